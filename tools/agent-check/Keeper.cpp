#include "Keeper.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>

namespace AgentCheck {
namespace {

// Everything below runs in the keeper, a child of a process with threads:
// system calls and fixed buffers only, no allocation, no lock.

constexpr int kControlFd = 3;
constexpr int kReportFd = 4;
constexpr int kOutFd = 5;
constexpr int kErrFd = 6;

// Rounds of killing before the keeper gives up on a process that will not
// go (one stuck in the kernel): it exits all the same, and the check, its
// subreaper, is left with it.
constexpr int kKillRounds = 2000;

struct ProcessEntry {
  pid_t pid;
  pid_t parent;
  char state;
};

// Enough for any test machine's process table; a larger one is scanned in
// part, and the next round finds the rest.
constexpr int kMaxProcesses = 8192;

void CloseFrom(int nFirst) {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, nFirst, ~0U, 0) == 0) return;
#endif
  for (int fd = nFirst; fd < 65536; ++fd)
    ::close(fd);
}

void Report(int kind, int value, const char* text = nullptr, std::size_t length = 0) {
  KeeperMessage message;
  message.kind = kind;
  message.value = value;
  if (text != nullptr) {
    length = length < sizeof message.text - 1 ? length : sizeof message.text - 1;
    std::memcpy(message.text, text, length);
  }
  while (::write(kReportFd, &message, sizeof message) < 0 && errno == EINTR) {
  }
}

bool ParsePid(const char* name, pid_t& pid) {
  if (*name == '\0') return false;
  long value = 0;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9' || value > 10000000) return false;
    value = value * 10 + (*name - '0');
  }
  pid = static_cast<pid_t>(value);
  return true;
}

// Reads `/proc/<pid>/<leaf>` into `buffer`; its length, or -1.
ssize_t ReadProcFile(int procFd, pid_t pid, const char* leaf, char* buffer, std::size_t size) {
  char path[64];
  char digits[16];
  int n = 0;
  for (pid_t rest = pid; rest > 0 && n < 15; rest /= 10)
    digits[n++] = static_cast<char>('0' + rest % 10);
  int p = 0;
  while (n > 0)
    path[p++] = digits[--n];
  path[p++] = '/';
  for (const char* c = leaf; *c != '\0' && p < 62; ++c)
    path[p++] = *c;
  path[p] = '\0';
  const int fd = ::openat(procFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t nRead = 0;
  while ((nRead = ::read(fd, buffer, size)) < 0 && errno == EINTR) {
  }
  ::close(fd);
  return nRead;
}

// Each process's parent and state, from /proc/<pid>/stat.
int ScanProcesses(ProcessEntry* entries) {
  const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (procFd < 0) return 0;
  int count = 0;
  alignas(8) char buffer[8192];
  for (;;) {
    const long nRead = ::syscall(SYS_getdents64, procFd, buffer, sizeof buffer);
    if (nRead <= 0) break;
    for (long offset = 0; offset < nRead && count < kMaxProcesses;) {
      const char* record = buffer + offset;
      unsigned short length = 0;
      std::memcpy(&length, record + 16, sizeof length);
      const char* name = record + 19;
      offset += length;
      pid_t pid = 0;
      if (!ParsePid(name, pid)) continue;
      char stat[512];
      const ssize_t nStat = ReadProcFile(procFd, pid, "stat", stat, sizeof stat - 1);
      if (nStat <= 0) continue;
      stat[nStat] = '\0';
      // "pid (comm) S ppid ...": comm may hold anything, so read after its
      // last ')'.
      const char* close = std::strrchr(stat, ')');
      if (close == nullptr || close[1] != ' ' || close[2] == '\0' || close[3] != ' ') continue;
      long parent = 0;
      for (const char* c = close + 4; *c >= '0' && *c <= '9'; ++c)
        parent = parent * 10 + (*c - '0');
      entries[count++] = ProcessEntry{pid, static_cast<pid_t>(parent), close[2]};
    }
  }
  ::close(procFd);
  return count;
}

// Marks in `marks` every process below `ancestor`; how many there are.
// Sorted by pid, each process finds its parent by a binary search, and each
// chain of parents is walked once: what is learned of a process serves the
// processes below it. `state` and `chain` are scratch, as large as
// `entries`.
int MarkDescendants(ProcessEntry* entries, int count, pid_t ancestor, bool* marks,
                    signed char* state, int* chain) {
  enum : signed char { kUnknown, kBelow, kNotBelow };
  std::sort(entries, entries + count,
            [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  const auto find = [entries, count](pid_t pid) {
    const ProcessEntry* found = std::lower_bound(
        entries, entries + count, pid, [](const ProcessEntry& e, pid_t p) { return e.pid < p; });
    return found != entries + count && found->pid == pid ? static_cast<int>(found - entries) : -1;
  };
  for (int i = 0; i < count; ++i)
    state[i] = kUnknown;
  int marked = 0;
  for (int i = 0; i < count; ++i) {
    int length = 0;
    signed char result = kNotBelow;
    for (int at = i; at >= 0;) {
      if (state[at] != kUnknown) {
        result = state[at];
        break;
      }
      if (entries[at].pid == ancestor || length == count) break;  // itself, or a cycle
      chain[length++] = at;
      if (entries[at].parent == ancestor) {
        result = kBelow;
        break;
      }
      at = find(entries[at].parent);
    }
    while (length > 0)
      state[chain[--length]] = result;
  }
  for (int i = 0; i < count; ++i) {
    marks[i] = state[i] == kBelow;
    marked += marks[i] ? 1 : 0;
  }
  return marked;
}

ProcessEntry g_entries[kMaxProcesses];
bool g_marks[kMaxProcesses];
signed char g_state[kMaxProcesses];
int g_chain[kMaxProcesses];

// Names each live process below the keeper to the check.
void ReportLeft() {
  const int count = ScanProcesses(g_entries);
  MarkDescendants(g_entries, count, ::getpid(), g_marks, g_state, g_chain);
  const int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < count; ++i) {
    if (!g_marks[i] || g_entries[i].state == 'Z' || g_entries[i].state == 'X') continue;
    char command[sizeof KeeperMessage::text];
    ssize_t length = ReadProcFile(procFd, g_entries[i].pid, "cmdline", command, sizeof command - 1);
    if (length <= 0)
      length = ReadProcFile(procFd, g_entries[i].pid, "comm", command, sizeof command - 1);
    if (length < 0) length = 0;
    while (length > 0 && (command[length - 1] == '\0' || command[length - 1] == '\n'))
      --length;
    for (ssize_t c = 0; c < length; ++c) {
      if (command[c] == '\0') command[c] = ' ';
    }
    Report(KeeperMessage::kLeft, g_entries[i].pid, command, static_cast<std::size_t>(length));
  }
  if (procFd >= 0) ::close(procFd);
}

// Kills every process below the keeper and reaps each as it becomes the
// keeper's child; true once none is left.
bool KillAll() {
  for (int round = 0; round < kKillRounds; ++round) {
    const int count = ScanProcesses(g_entries);
    const int below = MarkDescendants(g_entries, count, ::getpid(), g_marks, g_state, g_chain);
    for (int i = 0; i < count; ++i) {
      if (g_marks[i]) ::kill(g_entries[i].pid, SIGKILL);
    }
    bool bNoChild = false;
    for (;;) {
      const pid_t reaped = ::waitpid(-1, nullptr, WNOHANG);
      if (reaped > 0) continue;
      bNoChild = reaped < 0 && errno == ECHILD;
      break;
    }
    if (below == 0 && bNoChild) return true;
    ::poll(nullptr, 0, 1);
  }
  return false;
}

[[noreturn]] void StartAgent(const KeeperPlan& plan) {
  ::setsid();
  const int null = ::open("/dev/null", O_RDONLY);
  if (null >= 0 && null != 0) {
    ::dup2(null, 0);
    ::close(null);
  }
  ::dup2(kOutFd, 1);
  ::dup2(kErrFd, 2);
  ::close(kControlFd);
  ::close(kOutFd);
  ::close(kErrFd);
  ::fcntl(kReportFd, F_SETFD, FD_CLOEXEC);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int nSignal = 1; nSignal < NSIG; ++nSignal)
    ::sigaction(nSignal, &standard, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::chdir(plan.workFolder) == 0) ::execve(plan.program, plan.argv, plan.envp);
  Report(KeeperMessage::kStartFailed, errno);
  ::_exit(127);
}

[[noreturn]] void Keep(const KeeperPlan& plan) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  // Signals meant for the check (a terminal's ^C reaches its whole group)
  // are the check's to act on: it tells the keeper what to do.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (const int nSignal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE, SIGTSTP, SIGTTOU, SIGTTIN})
    ::sigaction(nSignal, &ignore, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  const int sources[] = {plan.controlFd, plan.reportFd, plan.outFd, plan.errFd};
  int copies[4];
  for (int i = 0; i < 4; ++i)
    copies[i] = ::fcntl(sources[i], F_DUPFD, 10);
  for (int i = 0; i < 4; ++i)
    ::dup2(copies[i], kControlFd + i);
  CloseFrom(kErrFd + 1);

  const pid_t agent = ::fork();
  if (agent == 0) StartAgent(plan);
  if (agent < 0) {
    Report(KeeperMessage::kStartFailed, errno);
    Report(KeeperMessage::kDone, 0);
    ::_exit(0);
  }
  ::close(kOutFd);
  ::close(kErrFd);
  Report(KeeperMessage::kStarted, agent);

#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, agent, 0));
#else
  const int pidfd = -1;
#endif
  int status = 0;
  bool bKill = false;
  for (;;) {
    pollfd fds[] = {{kControlFd, POLLIN, 0}, {pidfd, POLLIN, 0}};
    ::poll(fds, 2, pidfd < 0 ? 10 : -1);
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char command = kKeeperKill;
      const ssize_t nRead = ::read(kControlFd, &command, 1);
      if (nRead == 0 || (nRead < 0 && errno != EINTR && errno != EAGAIN)) command = kKeeperKill;
      if (command == kKeeperTerminate) ::kill(agent, SIGTERM);
      if (command == kKeeperKill) bKill = true;
    }
    if (bKill) {
      // The agent is reaped by its own pid first, so that its status is
      // not taken by KillAll's reaping of the rest.
      ::kill(agent, SIGKILL);
      while (::waitpid(agent, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    const pid_t reaped = ::waitpid(agent, &status, WNOHANG);
    if (reaped == agent) break;
  }
  Report(KeeperMessage::kExited, status);
  if (!bKill) ReportLeft();
  (void)KillAll();
  Report(KeeperMessage::kDone, 0);
  ::_exit(0);
}

}  // namespace

pid_t StartKeeper(const KeeperPlan& plan) {
  const pid_t keeper = ::fork();
  if (keeper == 0) Keep(plan);
  return keeper;
}

void BecomeSubreaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

int KillStrayChildren(bool (*isKept)(pid_t)) {
  // Static, as they are large; the check calls this under a lock of its own.
  static ProcessEntry entries[kMaxProcesses];
  static bool marks[kMaxProcesses];
  static signed char state[kMaxProcesses];
  static int chain[kMaxProcesses];
  static pid_t strays[kMaxProcesses];
  int killed = 0;
  for (int round = 0; round < kKillRounds; ++round) {
    const int count = ScanProcesses(entries);
    const pid_t self = ::getpid();
    int nStrays = 0;
    for (int i = 0; i < count; ++i) {
      if (entries[i].parent == self && !isKept(entries[i].pid)) strays[nStrays++] = entries[i].pid;
    }
    if (nStrays == 0) break;
    for (int n = 0; n < nStrays; ++n) {
      MarkDescendants(entries, count, strays[n], marks, state, chain);
      for (int i = 0; i < count; ++i) {
        if (marks[i] && ::kill(entries[i].pid, SIGKILL) == 0) ++killed;
      }
      if (::kill(strays[n], SIGKILL) == 0) ++killed;
      ::waitpid(strays[n], nullptr, 0);
    }
  }
  return killed;
}

}  // namespace AgentCheck
