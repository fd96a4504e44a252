// The scenarios of the agent check: the whole job, each platform failure,
// each option missing, malformed numbers and cancellation, and what the whole
// job shows that the others are chosen and judged by.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Runner.h"

namespace AgentCheck {

enum class Kind { WholeJob, Fault, MissingOption, MalformedNumber, Cancellation };
const char* KindName(Kind kind);

struct Scenario {
  std::string name;  // "fault:hostname=31"; never holds a blank
  Kind kind = Kind::WholeJob;
  std::string description;
  std::vector<std::string> args;   // the agent's command line after its name
  std::string faults;              // RK_LOCAL_PLATFORM_FAULTS; empty: nothing armed
  std::vector<std::string> calls;  // the platform calls it fails, or the one it holds
  std::string option;              // the option it leaves out or makes malformed
  std::string notReached;          // why it is not run; empty: it is run
};

// What the whole job showed.
struct WholeJob {
  std::set<std::string> calls;             // every platform call it made
  std::map<std::string, int> failedCalls;  // how many of each failed
  std::set<std::string> optionsRead;       // from its trace lines: "-j"
  std::set<std::string> resultsFolders;    // the platform named them; relative to the root
  std::set<std::string> files;             // what it left, relative to the root
  bool filesComplete = true;               // false: it left more than `files`
  std::set<std::string> resultNames;       // of those in results folders, as ResultNames names them
};

// Each of `files` that is under one of `folders`, named relative to the
// deepest such folder: what two runs that were handed different folders
// (another client's, say) are compared by.
std::set<std::string> ResultNames(const std::vector<LeftFile>& files,
                                  const std::set<std::string>& folders);

// The full command line of a job that the local platform knows.
std::vector<std::string> DefaultCommandLine();

// The baseline: what the whole job's run and its evidence show.
WholeJob LearnWholeJob(const RunResult& run, const Evidence& evidence);

// Every scenario for the command line `args`, the whole job first. With the
// whole job's evidence, those it never reaches are marked so; without it
// (listing only) none is.
std::vector<Scenario> MakeScenarios(const std::vector<std::string>& args, const WholeJob* whole);

}  // namespace AgentCheck
