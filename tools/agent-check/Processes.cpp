#include "Processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "UniqueFd.h"

namespace AgentCheck {
namespace {

// Rounds of killing before giving up on a process that will not go.
constexpr int kKillRounds = 2000;

struct ProcessEntry {
  pid_t pid;
  pid_t parent;
  bool live;
};

bool ParsePid(const char* name, pid_t& pid) {
  if (*name == '\0') return false;
  long value = 0;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9' || value > 100000000) return false;
    value = value * 10 + (*name - '0');
  }
  pid = static_cast<pid_t>(value);
  return true;
}

// Up to `nMax` bytes of `/proc/<pid>/<leaf>`; empty when it cannot be read.
std::string ReadProcFile(int procFd, pid_t pid, const char* leaf, std::size_t nMax) {
  const std::string path = std::to_string(pid) + "/" + leaf;
  const UniqueFd fd(::openat(procFd, path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string text(nMax, '\0');
  ssize_t nRead = -1;
  while (fd.get() >= 0 && (nRead = ::read(fd.get(), text.data(), nMax)) < 0 && errno == EINTR) {
  }
  text.resize(nRead > 0 ? static_cast<std::size_t>(nRead) : 0);
  return text;
}

// Whether a zombie's process still has a thread: its leader is the zombie,
// and any other task of it runs on.
bool HasOtherThreads(int procFd, pid_t pid) {
  const std::string path = std::to_string(pid) + "/task";
  UniqueFd fd(::openat(procFd, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::unique_ptr<DIR, DirCloser> dir(fd.get() < 0 ? nullptr : ::fdopendir(fd.get()));
  if (!dir) return false;
  (void)fd.release();  // the stream has it now
  int nTasks = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] != '.') ++nTasks;
  }
  return nTasks > 1;
}

// Each process's parent and whether it runs, from /proc/<pid>/stat.
std::vector<ProcessEntry> ScanProcesses(int procFd) {
  std::vector<ProcessEntry> entries;
  UniqueFd listed(::dup(procFd));
  std::unique_ptr<DIR, DirCloser> dir(listed.get() < 0 ? nullptr : ::fdopendir(listed.get()));
  if (!dir) return entries;
  (void)listed.release();
  ::rewinddir(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    pid_t pid = 0;
    if (!ParsePid(entry->d_name, pid)) continue;
    const std::string stat = ReadProcFile(procFd, pid, "stat", 512);
    // "pid (comm) S ppid ...": comm may hold anything, so read after its
    // last ')'.
    const std::size_t nClose = stat.rfind(')');
    if (nClose == std::string::npos || nClose + 4 >= stat.size() || stat[nClose + 1] != ' ' ||
        stat[nClose + 3] != ' ') {
      continue;
    }
    long parent = 0;
    for (std::size_t n = nClose + 4; n < stat.size() && stat[n] >= '0' && stat[n] <= '9'; ++n)
      parent = parent * 10 + (stat[n] - '0');
    const char state = stat[nClose + 2];
    const bool bLive = (state != 'Z' && state != 'X') || HasOtherThreads(procFd, pid);
    entries.push_back(ProcessEntry{pid, static_cast<pid_t>(parent), bLive});
  }
  std::sort(entries.begin(), entries.end(),
            [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  return entries;
}

// Which of `entries` (sorted by pid) are below `ancestor` and below no
// process that `spare` claims. Each chain of parents is walked once: what
// is learned of a process serves the processes below it.
std::vector<bool> MarkDescendants(const std::vector<ProcessEntry>& entries, pid_t ancestor,
                                  const std::function<bool(pid_t)>& spare) {
  enum : signed char { kUnknown, kBelow, kNotBelow };
  const auto find = [&entries](pid_t pid) {
    const auto found = std::lower_bound(entries.begin(), entries.end(), pid,
                                        [](const ProcessEntry& e, pid_t p) { return e.pid < p; });
    return found != entries.end() && found->pid == pid ? static_cast<int>(found - entries.begin())
                                                       : -1;
  };
  const int count = static_cast<int>(entries.size());
  std::vector<signed char> state(entries.size(), kUnknown);
  std::vector<int> chain;
  for (int i = 0; i < count; ++i) {
    chain.clear();
    signed char result = kNotBelow;
    for (int at = i; at >= 0;) {
      if (state[at] != kUnknown) {
        result = state[at];
        break;
      }
      const ProcessEntry& entry = entries[at];
      // Itself, a spared process, or a cycle (pids reused mid-scan).
      if (entry.pid == ancestor || (spare && spare(entry.pid)) ||
          static_cast<int>(chain.size()) == count) {
        break;
      }
      chain.push_back(at);
      if (entry.parent == ancestor) {
        result = kBelow;
        break;
      }
      at = find(entry.parent);
    }
    for (const int at : chain)
      state[at] = result;
  }
  std::vector<bool> marks(entries.size());
  for (int i = 0; i < count; ++i)
    marks[i] = state[i] == kBelow;
  return marks;
}

UniqueFd OpenProc() { return UniqueFd(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC)); }

}  // namespace

std::vector<LiveProcess> LiveDescendants(pid_t ancestor) {
  const UniqueFd proc = OpenProc();
  std::vector<LiveProcess> live;
  if (proc.get() < 0) return live;
  const std::vector<ProcessEntry> entries = ScanProcesses(proc.get());
  const std::vector<bool> marks = MarkDescendants(entries, ancestor, nullptr);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!marks[i] || !entries[i].live) continue;
    std::string command = ReadProcFile(proc.get(), entries[i].pid, "cmdline", 4096);
    if (command.empty()) command = ReadProcFile(proc.get(), entries[i].pid, "comm", 64);
    while (!command.empty() && (command.back() == '\0' || command.back() == '\n'))
      command.pop_back();
    std::replace(command.begin(), command.end(), '\0', ' ');
    live.push_back(LiveProcess{entries[i].pid, std::move(command)});
  }
  return live;
}

bool KillDescendants(pid_t ancestor, const std::function<bool(pid_t)>& spare) {
  const UniqueFd proc = OpenProc();
  if (proc.get() < 0) return false;
  const pid_t self = ::getpid();
  for (int round = 0; round < kKillRounds; ++round) {
    const std::vector<ProcessEntry> entries = ScanProcesses(proc.get());
    const std::vector<bool> marks = MarkDescendants(entries, ancestor, spare);
    bool bAny = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!marks[i]) continue;
      bAny = true;
      ::kill(entries[i].pid, SIGKILL);
      // Only the caller's own children, each by its pid: another child of
      // the caller's (a keeper) is not for this sweep to reap.
      if (entries[i].parent == self) (void)::waitpid(entries[i].pid, nullptr, WNOHANG);
    }
    if (!bAny) return true;
    ::poll(nullptr, 0, 1);
  }
  return false;
}

}  // namespace AgentCheck
