// umx-agent-keeper: the parent of one scenario's agent. The check starts it
// (inside the scenario's sandbox, as its first process, or as the check's
// own child where there is no sandbox) as
//   umx-agent-keeper WORK-FOLDER PROGRAM [ARG...]
// with descriptor 3 the socket of KeeperProtocol.h. It starts PROGRAM in a
// session of its own, with no capabilities, in WORK-FOLDER, and waits for it
// or for the check's word; then names what the agent left running, kills
// all of it, tells the check and exits. Where it is the first process of a
// PID namespace the kernel kills whatever it missed when it exits.
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KeeperProtocol.h"
#include "Processes.h"

extern char** environ;  // NOLINT: the agent's environment, as the check gave it

namespace {

using namespace AgentCheck;

void Tell(int kind, int value, const std::string& text = {}) {
  KeeperMessage message;
  message.kind = kind;
  message.value = value;
  std::memcpy(message.text, text.data(), std::min(text.size(), sizeof message.text - 1));
  // Never SIGPIPE: a check that is gone is no reason to stop killing.
  while (::send(kKeeperSocketFd, &message, sizeof message, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

// Leaves the process with no capability that an exec could give back, root
// or not: the bounding and ambient sets emptied, then every set cleared, and
// no exec may gain privilege again. Each step may be refused where there is
// nothing to drop.
void DropCapabilities() {
  for (int nCap = 0; nCap <= 63; ++nCap)
    (void)::prctl(PR_CAPBSET_DROP, nCap, 0, 0, 0);
  (void)::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  (void)::syscall(SYS_capset, &header, none);
  (void)::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

// Moves the check's module to preload from its own variable to LD_PRELOAD,
// ahead of whatever LD_PRELOAD held.
void PreloadForAgent() {
  const char* pszModule = std::getenv(kKeeperPreloadVariable);
  if (pszModule == nullptr) return;
  std::string preload = pszModule;
  if (const char* pszOthers = std::getenv("LD_PRELOAD"); pszOthers != nullptr && *pszOthers != '\0')
    preload.append(":").append(pszOthers);
  (void)::setenv("LD_PRELOAD", preload.c_str(), 1);
  (void)::unsetenv(kKeeperPreloadVariable);
}

[[noreturn]] void StartAgent(char* workFolder, char** argv) {
  ::setsid();  // its own session: no terminal, and no group of the keeper's
  DropCapabilities();
  PreloadForAgent();
  if (::chdir(workFolder) == 0) ::execve(argv[0], argv, environ);
  Tell(KeeperMessage::kStartFailed, errno);
  ::_exit(127);
}

// Waits for the agent to end, or for the check to say kill; the agent's
// wait status, and whether it was killed on the check's word.
int WaitForAgent(pid_t agent, bool& bKilled) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, agent, 0));
  int status = 0;
  for (;;) {
    pollfd fds[] = {{kKeeperSocketFd, POLLIN, 0}, {pidfd, POLLIN, 0}};
    (void)::poll(fds, 2, pidfd < 0 ? 10 : -1);
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char command = kKeeperKill;
      const ssize_t nRead = ::recv(kKeeperSocketFd, &command, 1, MSG_DONTWAIT);
      if (nRead == 0 || (nRead < 0 && errno != EINTR && errno != EAGAIN)) command = kKeeperKill;
      if (command == kKeeperTerminate) ::kill(agent, SIGTERM);
      if (command == kKeeperKill) {
        bKilled = true;
        ::kill(agent, SIGKILL);
      }
    }
    // Reaped by its own pid, so that its status is not taken by the reaping
    // of what it left.
    const pid_t reaped = ::waitpid(agent, &status, bKilled ? 0 : WNOHANG);
    if (reaped == agent) return status;
    if (reaped < 0 && errno != EINTR) return status;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The check's trial of a sandbox: it started, and this ran in it.
  if (argc == 2 && std::strcmp(argv[1], "--probe") == 0) return 0;
  if (argc < 3) return 2;
  // Whatever the check's process had, this one starts plain: default
  // actions, nothing blocked, no terminal, descriptors 0 to 3 only.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int nSignal = 1; nSignal < NSIG; ++nSignal)
    (void)::sigaction(nSignal, &standard, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  (void)::setsid();
  (void)::syscall(SYS_close_range, kKeeperSocketFd + 1, ~0U, 0);
  ::fcntl(kKeeperSocketFd, F_SETFD, FD_CLOEXEC);
  // Not dumpable: no process of the agent's, same user or not, may open
  // this one's descriptors through /proc, or trace it.
  (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  // What the agent leaves becomes this process's to kill, not init's.
  (void)::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);

  const pid_t agent = ::fork();
  if (agent == 0) StartAgent(argv[1], argv + 2);
  if (agent < 0) {
    Tell(KeeperMessage::kStartFailed, errno);
    Tell(KeeperMessage::kDone, 0);
    return 0;
  }
  ::close(STDOUT_FILENO);
  ::close(STDERR_FILENO);
  Tell(KeeperMessage::kStarted, agent);

  bool bKilled = false;
  const int status = WaitForAgent(agent, bKilled);
  Tell(KeeperMessage::kExited, status);
  if (!bKilled) {
    const std::vector<LiveProcess> left = LiveDescendants(::getpid());
    const int nLeft = static_cast<int>(left.size());
    for (int n = 0; n < nLeft && n < kMaxLeftNamed; ++n)
      Tell(KeeperMessage::kLeft, nLeft, left[n].command);
  }
  (void)KillDescendants(::getpid());
  Tell(KeeperMessage::kDone, 0);
  return 0;
}
