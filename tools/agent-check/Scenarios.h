// The scenarios of the agent check: the whole job, each platform failure,
// each option missing, malformed numbers and cancellation, and what the whole
// job shows that the others are chosen and judged by.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Runner.h"

namespace AgentCheck {

enum class Kind {
  WholeJob,
  Fault,
  MissingOption,
  MalformedNumber,
  Cancellation,  // SIGTERM from the check while a call is held
  CancelAfter,   // SIGTERM from the platform once a call has returned
  CrashPoint,    // SIGKILL at one of the whole job's changes to the file system
};
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
  std::size_t crashAt = 0;         // CrashPoint: the change it is killed at, from 1
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
  std::vector<LeftFile> results;           // what it left in its results folders
  // Its changes to the file system, as the interposer saw them ("write
  // /r/x"); not counted when the interposer could not be loaded.
  bool changesCounted = false;
  std::vector<std::string> changes;
};

// The command lines the scenarios run on, and what each baseline showed.
struct Baselines {
  std::vector<std::string> args;        // the job's command line
  std::vector<std::string> ownOptions;  // the agent's own options among them (--arg)
  // Without its -cn, where it has one: the road that finds the client
  // through the application. Empty when there is no such second line.
  std::vector<std::string> argsWithoutClient;
  const WholeJob* whole = nullptr;  // nullptr: listing only
  const WholeJob* wholeWithoutClient = nullptr;
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

// The whole jobs: on the command line, and without its -cn where it has
// one.
std::vector<Scenario> MakeWholeJobs(const Baselines& baselines);

// Every other scenario. A platform call either whole job made is faulted on
// that whole job's command line; those neither reaches are marked so. With
// no whole job's evidence (listing only) none is marked.
std::vector<Scenario> MakeScenarios(const Baselines& baselines);

// The value after `option` in `args`; nullopt when it is not there.
std::optional<std::string> OptionValue(const std::vector<std::string>& args,
                                       std::string_view option);

// Whether a shell pattern of --only (or of the expectations) names the
// scenario called `name`; and why a pattern of `only` names none of
// `scenarios` (empty when each names one).
bool MatchesAny(const std::vector<std::string>& patterns, const std::string& name);
bool NamesAny(const std::string& pattern, const std::vector<Scenario>& scenarios);
std::string UnmatchedOnly(const std::vector<std::string>& only,
                          const std::vector<Scenario>& scenarios);

// The most crash points a run tries, evenly spread over the changes.
constexpr std::size_t kMaxCrashPoints = 64;

}  // namespace AgentCheck
