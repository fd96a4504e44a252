// The files an agent left under a folder, and the folder's removal: both
// walk without following a link, iteratively, with one folder open at a
// time, so that neither a deep tree nor a planted link can make the check
// exhaust its stack or descriptors or step outside the folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace AgentCheck {

// A file (anything but a folder) under the root, relative to it.
struct LeftFile {
  std::string path;
  long long size;
};

struct FileListing {
  std::vector<LeftFile> files;  // sorted by path
  bool complete = true;         // false: the walk stopped at its bound
};

// What is under `root`, at most `nMaxEntries` entries (files and folders).
FileListing ListFiles(const std::string& root, std::size_t nMaxEntries);

// Removes `path` and all below it. A folder the agent made unwritable is
// made the user's to change first; a link is removed, never followed.
void RemoveTree(const std::string& path);

}  // namespace AgentCheck
