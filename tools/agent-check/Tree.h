// The files an agent left under a folder, and the folder's removal. Both
// walk iteratively, holding an open descriptor for each folder between the
// top and the one they are in: they never follow a link, never climb back
// up by "..", and never leave the file system the top is on, so that
// neither a planted link, a folder moved while it is walked, a mount, nor a
// deep tree can take them outside it or exhaust the check's stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace AgentCheck {

// A file (anything but a folder) under the top, relative to it.
struct LeftFile {
  std::string path;
  long long size;
  // A digest of a regular file's bytes (FNV-1a, 64 bits), read when it is
  // within kMaxDigested; what tells a whole result from a partial one of
  // the same size.
  std::uint64_t digest = 0;
  bool digested = false;
};

// The most of one file's bytes, and of all files' bytes in one listing,
// that are read for digests.
constexpr long long kMaxDigested = 1 << 20;
constexpr long long kMaxDigestedInAll = 32 << 20;

struct FileListing {
  std::vector<LeftFile> files;  // sorted by path
  // Why the listing is not whole: past its bounds, or a folder that could
  // not be opened or lies on another file system; empty: it is whole.
  std::string incomplete;
};

// What is under the folder `name` in the folder `parentFd`: at most
// `nMaxEntries` entries (files and folders), and `nMaxPathBytes` of paths.
// The folder's modes are left as they are: one the check cannot read makes
// the listing incomplete.
FileListing ListFiles(int parentFd, const std::string& name, std::size_t nMaxEntries,
                      std::size_t nMaxPathBytes);

// Removes `name` in the folder `parentFd`, and all below it. A folder the
// check cannot read or change is made the owner's to change first, and
// nothing else's mode is touched. Empty when all is gone, else what was not
// removed and why.
[[nodiscard]] std::string RemoveTree(int parentFd, const std::string& name);
// The same for a path.
[[nodiscard]] std::string RemoveTree(const std::string& path);

}  // namespace AgentCheck
