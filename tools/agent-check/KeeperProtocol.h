// What the check and the keeper program say to each other over the socket
// that the keeper finds as its descriptor kKeeperSocketFd. The keeper starts
// the agent, waits for it, names what it left running, kills that, and
// tells the check; the check tells the keeper when to cancel or stop.
#pragma once

namespace AgentCheck {

// The keeper's descriptors when it starts: 0 /dev/null, 1 and 2 the agent's
// stdout and stderr, and this one, a SOCK_SEQPACKET socket, so that each
// message arrives whole and alone.
constexpr int kKeeperSocketFd = 3;

// One message of the keeper's.
struct KeeperMessage {
  enum Kind : int {
    kStarted,      // value: the agent's pid, as the keeper sees it
    kStartFailed,  // value: errno of the agent's start
    kExited,       // value: the agent's wait status
    kLeft,         // value: how many it left running; text: one's command line
    kDone,         // every process the agent started is gone
  };
  int kind = kDone;
  int value = 0;
  char text[240] = {};  // NUL-terminated; bytes as the process gave them
};

// What the check tells the keeper, one byte a message. End of file (the
// check is gone) is taken as kKeeperKill.
constexpr char kKeeperTerminate = 'T';  // send the agent SIGTERM
constexpr char kKeeperKill = 'K';       // kill the agent and all it started now

// A module the keeper preloads into the agent alone (LD_PRELOAD, before any
// the agent's environment names), and drops from the agent's environment:
// the sandbox's program and the keeper run without it.
constexpr char kKeeperPreloadVariable[] = "UMX_AGENT_PRELOAD";

// The processes named as left running, at most.
constexpr int kMaxLeftNamed = 16;

}  // namespace AgentCheck
