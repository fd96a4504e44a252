// The processes below a given one, as the calling process's /proc shows
// them: named, and killed. The keeper program uses these for what an agent
// leaves behind; the check for what an agent leaves when it kills its keeper.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace AgentCheck {

// A process that runs yet: not a zombie, or a zombie whose leader has
// exited while another of its threads runs on.
struct LiveProcess {
  pid_t pid;
  std::string command;  // its command line, arguments joined by blanks; else its name
};

// Every live process below `ancestor`, in the order of their pids.
std::vector<LiveProcess> LiveDescendants(pid_t ancestor);

// Kills every process below `ancestor` but those below a process that
// `spare` claims (which are spared themselves), and reaps each that is the
// caller's child, round after round, as a parent's death makes the caller
// the subreaper of its children. True once none is left; false if some
// still were after the rounds allowed (a process stuck in the kernel).
bool KillDescendants(pid_t ancestor, const std::function<bool(pid_t)>& spare = nullptr);

}  // namespace AgentCheck
