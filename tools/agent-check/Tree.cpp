#include "Tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "UniqueFd.h"

namespace AgentCheck {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The mount an open file is on: statx's mount id, or where that is not
// given, /proc's word for the descriptor. 0 when neither tells.
unsigned long long MountOf(int fd) {
  struct statx status {};
  // An emulator (qemu-user) may say it filled the mount id and leave it 0:
  // then /proc says.
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &status) == 0 &&
      (status.stx_mask & STATX_MNT_ID) != 0 && status.stx_mnt_id != 0) {
    return status.stx_mnt_id;
  }
  const std::string info = "/proc/self/fdinfo/" + std::to_string(fd);
  const UniqueFd infoFd(::open(info.c_str(), O_RDONLY | O_CLOEXEC));
  char text[512] = {};
  const ssize_t nRead = infoFd.get() < 0 ? -1 : ::read(infoFd.get(), text, sizeof text - 1);
  const char* found = nRead > 0 ? std::strstr(text, "mnt_id:") : nullptr;
  return found != nullptr ? std::strtoull(found + 7, nullptr, 10) : 0;
}

// Opens the folder `name` in `parentFd` without following a link or
// crossing into another mount, where the kernel can refuse that itself
// (openat2), and on the device `device` in any case. -1 with errno; EXDEV
// for another file system.
int OpenFolderOn(int parentFd, const char* name, dev_t device, int flags = kFolderFlags) {
  open_how how{};
  how.flags = static_cast<unsigned long long>(flags);
  how.resolve = RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
  int fd = static_cast<int>(::syscall(SYS_openat2, parentFd, name, &how, sizeof how));
  const bool bNoOpenat2 = fd < 0 && errno == ENOSYS;
  if (bNoOpenat2) fd = ::openat(parentFd, name, flags);
  if (fd < 0) return -1;
  // Where the kernel could not refuse a mount itself (no openat2), a
  // bind mount of the same file system has the same device: its mount
  // tells it apart.
  struct stat status {};
  if (::fstat(fd, &status) != 0 || status.st_dev != device ||
      (bNoOpenat2 && MountOf(fd) != MountOf(parentFd))) {
    ::close(fd);
    errno = EXDEV;
    return -1;
  }
  return fd;
}

// A folder the owner cannot read or search, reached as above, made the
// owner's to change. Through an O_PATH descriptor, so that the mode changed
// is that of the folder reached, whatever is put at its name meanwhile.
bool MakeOwnersFolder(int parentFd, const char* name, dev_t device) {
  const UniqueFd path(
      OpenFolderOn(parentFd, name, device, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (path.get() < 0) return false;
  const std::string viaProc = "/proc/self/fd/" + std::to_string(path.get());
  return ::chmod(viaProc.c_str(), S_IRWXU) == 0;
}

// One open folder of the walk and the folders below it still to visit.
struct Level {
  UniqueFd fd;
  std::string name;                  // its name in its parent; empty at the top
  std::vector<std::string> folders;  // below it, not yet visited
};

std::string Joined(const std::vector<Level>& levels, const std::string& name) {
  std::string path;
  for (std::size_t n = 1; n < levels.size(); ++n)
    path.append(levels[n].name).append("/");
  return path + name;
}

// Visits every entry under the folder `name` in `parentFd`, depth first.
// `file(folderFd, name, path, status)` is called for each entry that is no
// folder, and stops the walk by returning false; `leave(parentFd, name)`
// once a folder below the top has been visited in full, and `blocked(path,
// errno)` for a folder that could not be opened. With `bRemoving`, a folder
// the owner cannot change is made changeable first.
template <typename OnFile, typename OnLeave, typename OnBlocked>
void Walk(int parentFd, const std::string& name, bool bRemoving, OnFile file, OnLeave leave,
          OnBlocked blocked) {
  struct stat top {};
  if (::fstatat(parentFd, name.c_str(), &top, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(top.st_mode))
    return;
  const dev_t device = top.st_dev;
  const auto open = [&](int at, const std::string& below) {
    int fd = OpenFolderOn(at, below.c_str(), device);
    if (fd < 0 && errno == EACCES && bRemoving && MakeOwnersFolder(at, below.c_str(), device))
      fd = OpenFolderOn(at, below.c_str(), device);
    return fd;
  };
  std::vector<Level> levels;
  {
    UniqueFd fd(open(parentFd, name));
    if (fd.get() < 0) {
      blocked(std::string("."), errno);
      return;
    }
    levels.push_back(Level{std::move(fd), std::string(), {}});
  }
  bool bFresh = true;  // the deepest level is not yet read
  while (!levels.empty()) {
    Level& level = levels.back();
    if (bFresh) {
      bFresh = false;
      struct stat status {};
      // A folder the agent left without write or search permission for
      // its owner cannot be emptied until it is given them back.
      if (bRemoving && ::fstat(level.fd.get(), &status) == 0 &&
          (status.st_mode & S_IRWXU) != S_IRWXU) {
        (void)::fchmod(level.fd.get(), S_IRWXU);
      }
      UniqueFd listed(::dup(level.fd.get()));
      std::unique_ptr<DIR, DirCloser> dir(listed.get() < 0 ? nullptr : ::fdopendir(listed.get()));
      if (dir) (void)listed.release();  // the stream has it now
      bool bGoOn = true;
      while (dir && bGoOn) {
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) break;
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        if (::fstatat(level.fd.get(), entryName.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
          continue;
        if (S_ISDIR(status.st_mode)) {
          level.folders.push_back(entryName);
        } else {
          bGoOn = file(level.fd.get(), entryName, Joined(levels, entryName), status);
        }
      }
      if (!bGoOn) return;
    }
    if (!level.folders.empty()) {
      std::string below = std::move(level.folders.back());
      level.folders.pop_back();
      UniqueFd fd(open(level.fd.get(), below));
      if (fd.get() < 0) {
        blocked(Joined(levels, below), errno);
        continue;
      }
      levels.push_back(Level{std::move(fd), std::move(below), {}});
      bFresh = true;
      continue;
    }
    // Done with this folder: back to the one above, still open.
    const std::string done = std::move(level.name);
    levels.pop_back();
    if (!levels.empty()) leave(levels.back().fd.get(), done);
  }
}

// The FNV-1a digest of the regular file `name` in `folderFd`, if it is still
// the file `status` describes; never blocks on a FIFO put in its place.
bool Digest(int folderFd, const std::string& name, const struct stat& status,
            std::uint64_t& digest) {
  const UniqueFd fd(
      ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat opened {};
  if (fd.get() < 0 || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
      opened.st_ino != status.st_ino || opened.st_dev != status.st_dev) {
    return false;
  }
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  char buffer[16384];
  long long nLeft = kMaxDigested + 1;
  for (;;) {
    const ssize_t nRead = ::read(fd.get(), buffer, sizeof buffer);
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead < 0) return false;
    if (nRead == 0) break;
    if ((nLeft -= nRead) < 0) return false;  // it grew past the bound
    for (ssize_t n = 0; n < nRead; ++n)
      hash = (hash ^ static_cast<unsigned char>(buffer[n])) * 0x100000001b3ULL;
  }
  digest = hash;
  return true;
}

}  // namespace

FileListing ListFiles(int parentFd, const std::string& name, std::size_t nMaxEntries,
                      std::size_t nMaxPathBytes) {
  FileListing listing;
  std::size_t nEntries = 0;
  std::size_t nPathBytes = 0;
  long long nDigested = 0;
  Walk(
      parentFd, name, false,
      [&](int folderFd, const std::string& entry, std::string path, const struct stat& status) {
        nPathBytes += path.size();
        if (++nEntries > nMaxEntries || nPathBytes > nMaxPathBytes) {
          listing.incomplete = "past " + std::to_string(nMaxEntries) + " entries or " +
                               std::to_string(nMaxPathBytes >> 20) + " MiB of paths";
          return false;
        }
        LeftFile file{std::move(path),
                      S_ISREG(status.st_mode) ? static_cast<long long>(status.st_size) : 0};
        if (S_ISREG(status.st_mode) && file.size <= kMaxDigested &&
            nDigested + file.size <= kMaxDigestedInAll) {
          nDigested += file.size;
          file.digested = Digest(folderFd, entry, status, file.digest);
        }
        listing.files.push_back(std::move(file));
        return true;
      },
      [](int, const std::string&) {},
      [&listing](const std::string& path, int nError) {
        if (listing.incomplete.empty()) {
          listing.incomplete = "cannot open the folder " + path + ": " +
                               (nError == EXDEV ? "another file system" : std::strerror(nError));
        }
      });
  std::sort(listing.files.begin(), listing.files.end(),
            [](const LeftFile& a, const LeftFile& b) { return a.path < b.path; });
  return listing;
}

std::string RemoveTree(int parentFd, const std::string& name) {
  struct stat status {};
  if (::fstatat(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return {};
  if (!S_ISDIR(status.st_mode)) {
    return ::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT
               ? std::string()
               : name + ": " + std::strerror(errno);
  }
  std::string left;
  const auto note = [&left, &name](const std::string& path, int nError) {
    if (left.empty())
      left = name + "/" + path + ": " +
             (nError == EXDEV ? "another file system" : std::strerror(nError));
  };
  // Removal has no bound: a folder the check made must go whatever it holds.
  Walk(
      parentFd, name, true,
      [&note](int folder, const std::string& entry, const std::string& path, const struct stat&) {
        if (::unlinkat(folder, entry.c_str(), 0) != 0 && errno != ENOENT) note(path, errno);
        return true;
      },
      [](int folder, const std::string& entry) {
        (void)::unlinkat(folder, entry.c_str(), AT_REMOVEDIR);
      },
      note);
  if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT && left.empty())
    left = name + ": " + std::strerror(errno);
  return left;
}

std::string RemoveTree(const std::string& path) {
  const std::size_t nSlash = path.find_last_of('/');
  const std::string parent = nSlash == std::string::npos ? "."
                             : nSlash == 0               ? "/"
                                                         : path.substr(0, nSlash);
  const UniqueFd fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return path + ": " + std::strerror(errno);
  std::string left = RemoveTree(fd.get(), path.substr(nSlash + 1));
  return left.empty() ? left : parent + "/" + left;
}

}  // namespace AgentCheck
