// The agent check from its options to its exit status, in order: the
// workspace, the whole jobs, the baselines they give, the other scenarios,
// the reports.
#pragma once

#include <atomic>

#include "CommandLine.h"

namespace AgentCheck {

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;     // the agent failed a scenario, the whole job among them
constexpr int kExitCannotRun = 2;  // the check's own error, or bad usage

// Runs the check for `options`, or lists its scenarios. `stopSignal` is set
// (and `nStopFd` made readable) by a signal that stops the check: each
// running agent is then killed, and what this returns does not count.
int RunCheck(const Options& options, const std::atomic<int>& stopSignal, int nStopFd);

// Says why the check cannot run, each line escaped; kExitCannotRun.
int CannotRun(const std::string& why);

}  // namespace AgentCheck
