// The keeper: a process of the check's own, forked for one scenario, that
// starts the agent in a session of its own and is the child subreaper of
// everything the agent starts. When the agent ends, or the check says so, it
// names what the agent left running, kills every descendant, inside the
// agent's group or not, reaps them all and exits. An agent cannot leave a
// process behind by daemonising, and cannot reach the check's terminal.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace AgentCheck {

// What the keeper tells the check, one fixed-size message a write, so that
// each arrives whole (it is smaller than PIPE_BUF).
struct KeeperMessage {
  enum Kind : int {
    kStarted,      // value: the agent's pid
    kStartFailed,  // value: errno of the agent's exec
    kExited,       // value: the agent's wait status
    kLeft,         // value: a pid the agent left running; text: its command line
    kDone,         // every descendant is gone
  };
  int kind = kDone;
  int value = 0;
  char text[240] = {};  // NUL-terminated; bytes as the process gave them
};

// What the check tells the keeper, one byte a command. End of file (the
// check is gone) is taken as kKill.
constexpr char kKeeperTerminate = 'T';  // send the agent SIGTERM
constexpr char kKeeperKill = 'K';       // kill the agent and every descendant now

// Everything the keeper needs, made before the fork: it allocates nothing
// after it, so that it is safe in the child of a process with threads.
struct KeeperPlan {
  const char* program;  // absolute
  char* const* argv;
  char* const* envp;
  const char* workFolder;
  int controlFd;  // read: commands
  int reportFd;   // write: KeeperMessage
  int outFd;      // the agent's stdout
  int errFd;      // the agent's stderr
};

// Forks the keeper for `plan`; its pid, or -1 with errno. The keeper only
// uses the plan's descriptors; it closes every other one it inherited.
pid_t StartKeeper(const KeeperPlan& plan);

// Makes the calling process the child subreaper of its descendants, so that
// an agent whose keeper was killed is reparented to the check, not to init.
void BecomeSubreaper();

// Kills and reaps each child of the calling process that `isKept` does not
// claim, with all its descendants: what is left of a scenario whose keeper
// the agent killed. Returns how many processes were killed.
int KillStrayChildren(bool (*isKept)(pid_t));

}  // namespace AgentCheck
