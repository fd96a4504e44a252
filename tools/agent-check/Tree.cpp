#include "Tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "UniqueFd.h"

namespace AgentCheck {
namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// One folder of the walk: the folders below it still to visit.
struct Level {
  std::string name;                  // its name in its parent; empty at the root
  std::vector<std::string> folders;  // below it, not yet visited
};

// Visits every entry under `root` depth first, one folder open at a time.
// `file(folderFd, name, relativePath, status)` is called for each entry
// that is no folder, and stops the walk by returning false; `leave(parentFd, name)` once a folder
// below the root has been visited in full. Stops after `nMaxEntries` entries; false then.
template <typename OnFile, typename OnLeave>
bool Walk(const std::string& root, std::size_t nMaxEntries, bool bMakeWritable, OnFile file,
          OnLeave leave) {
  int fd = ::open(root.c_str(), kOpenFolder);
  if (fd < 0) return true;
  std::size_t nEntries = 0;
  bool bComplete = true;
  std::string relative;
  std::vector<Level> levels(1);
  bool bFresh = true;  // `fd` is a folder not yet read
  while (fd >= 0) {
    Level& level = levels.back();
    if (bFresh) {
      bFresh = false;
      if (bMakeWritable) (void)::fchmod(fd, S_IRWXU);
      UniqueFd listed(::dup(fd));
      std::unique_ptr<DIR, DirCloser> dir(listed.get() < 0 ? nullptr : ::fdopendir(listed.get()));
      if (dir) (void)listed.release();  // the stream has it now
      if (dir) ::rewinddir(dir.get());
      while (dir && bComplete) {
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (++nEntries > nMaxEntries) {
          bComplete = false;
          break;
        }
        struct stat status {};
        if (::fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(status.st_mode)) {
          level.folders.push_back(name);
        } else {
          std::string path = relative;
          if (!path.empty()) path += '/';
          path += name;
          if (!file(fd, name, std::move(path), status)) bComplete = false;
        }
      }
      if (!bComplete) level.folders.clear();
    }
    if (!level.folders.empty()) {
      std::string name = std::move(level.folders.back());
      level.folders.pop_back();
      const int below = ::openat(fd, name.c_str(), kOpenFolder);
      if (below < 0) continue;
      ::close(fd);
      fd = below;
      relative += (relative.empty() ? "" : "/") + name;
      levels.push_back(Level{std::move(name), {}});
      bFresh = true;
      continue;
    }
    // Done with this folder: back up to its parent, or end at the root.
    if (levels.size() == 1) break;
    const int parent = ::openat(fd, "..", kOpenFolder);
    ::close(fd);
    fd = parent;
    const std::string name = std::move(level.name);
    levels.pop_back();
    relative.resize(relative.size() - std::min(relative.size(), name.size() + 1));
    if (fd >= 0) leave(fd, name);
  }
  if (fd >= 0) ::close(fd);
  return bComplete;
}

}  // namespace

FileListing ListFiles(const std::string& root, std::size_t nMaxEntries) {
  // Deep folders make long paths: their total is bounded too.
  constexpr std::size_t kMaxPathBytes = 8 << 20;
  std::size_t nPathBytes = 0;
  FileListing listing;
  listing.complete = Walk(
      root, nMaxEntries, false,
      [&](int, const std::string&, std::string path, const struct stat& status) {
        nPathBytes += path.size();
        if (nPathBytes > kMaxPathBytes) return false;
        listing.files.push_back(LeftFile{
            std::move(path), S_ISREG(status.st_mode) ? static_cast<long long>(status.st_size) : 0});
        return true;
      },
      [](int, const std::string&) {});
  std::sort(listing.files.begin(), listing.files.end(),
            [](const LeftFile& a, const LeftFile& b) { return a.path < b.path; });
  return listing;
}

void RemoveTree(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return;
  if (!S_ISDIR(status.st_mode)) {
    (void)::unlink(path.c_str());
    return;
  }
  // Removal has no bound: a folder the check made must go whatever it holds.
  (void)Walk(
      path, static_cast<std::size_t>(-1), true,
      [](int folder, const std::string& name, const std::string&, const struct stat&) {
        (void)::unlinkat(folder, name.c_str(), 0);
        return true;
      },
      [](int parent, const std::string& name) {
        (void)::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
      });
  (void)::rmdir(path.c_str());
}

}  // namespace AgentCheck
