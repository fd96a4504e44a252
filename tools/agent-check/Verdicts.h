// How a scenario's run is judged, and the expectations file in which an
// author declares a failure that the agent tolerates on purpose.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Evidence.h"
#include "Runner.h"
#include "Scenarios.h"

namespace AgentCheck {

// Every verdict, in the order they are looked for: its identifier, its
// words as the table prints them (hyphenated, as the report and the
// expectations file name it) and what the agent's author should do about it.
#define UMX_AGENT_CHECK_VERDICTS(X)                                                               \
  X(Passed, "passed", "")                                                                         \
  X(NotReached, "not reached",                                                                    \
    "Run the check on a command line that makes the agent reach this path; --strict fails "       \
    "a run that leaves one out.")                                                                 \
  X(Hung, "hung",                                                                                 \
    "Check the result of every platform call and bound every wait, so that the job ends when "    \
    "a call fails.")                                                                              \
  X(NotGone, "not gone", "Handle SIGTERM: stop the job, remove what it wrote and exit 143.")      \
  X(Crashed, "crashed",                                                                           \
    "Catch what the library and the platform throw (std::exception, and const char* for misuse) " \
    "and end with an exit status, never by a signal.")                                            \
  X(WholeJobFailed, "whole job failed",                                                           \
    "The job fails with nothing armed: replay it with the command the check prints and read "     \
    "its stderr.")                                                                                \
  X(ReportedSuccess, "reported success",                                                          \
    "Exit non-zero when a platform call fails or the job is cancelled; exit 0 only when the "     \
    "results are whole.")                                                                         \
  X(FailedSilently, "failed silently",                                                            \
    "Say on stderr why the job failed before exiting non-zero.")                                  \
  X(LeftProcessesRunning, "left processes running",                                               \
    "Wait for every process the agent starts, and end them before it exits.")                     \
  X(MalformedTranscript, "malformed transcript",                                                  \
    "Leave the platform's transcript alone: never write, move or truncate it.")                   \
  X(LeftPartialResults, "left partial results",                                                   \
    "Write each result to a temporary file and rename it into place, and remove what a failed "   \
    "job wrote.")                                                                                 \
  X(WrongResultsFolder, "wrong results folder",                                                   \
    "Ask the platform for the results directory of the client that -cn names, and write there.")  \
  X(LeftNoResults, "left no results",                                                             \
    "Write the job's results in the directory the platform names for it.")                        \
  X(WroteOutside, "wrote outside",                                                                \
    "Write only in the directories the platform names and in the working folder.")                \
  X(MalformedTrace, "malformed trace",                                                            \
    "Print trace lines through the library only, never a line of your own that looks like one.")  \
  X(PrintedRawText, "printed raw text",                                                           \
    "Escape every text from outside (option values, platform answers) before printing it, as "    \
    "the library's trace lines do.")                                                              \
  X(CannotTell, "cannot tell",                                                                    \
    "Keep outputs and results within the check's bounds, so that it can see them whole.")         \
  X(Error, "error",                                                                               \
    "The check could not prepare or start the scenario; its reason says why. It is no fault of "  \
    "the agent's.")

enum class Verdict {
#define UMX_VERDICT_ENUMERATOR(id, words, hint) id,
  UMX_AGENT_CHECK_VERDICTS(UMX_VERDICT_ENUMERATOR)
#undef UMX_VERDICT_ENUMERATOR
};
// Every verdict, in the table's order.
const std::vector<Verdict>& AllVerdicts();
// "reported-success", as the report and the expectations file name it.
const char* VerdictName(Verdict verdict);
// "reported success", as the table shows it.
const char* VerdictWords(Verdict verdict);
// What the agent should do about it; empty for passed.
const char* VerdictHint(Verdict verdict);
// The verdict named either way, or with words joined by '_'.
std::optional<Verdict> VerdictNamed(std::string_view name);
// The verdicts an expectation may name: the failures an agent may cause.
bool IsAgentFailure(Verdict verdict);

// A line of the expectations file: scenarios matching `pattern` (a shell
// pattern) may end with `verdict`, for the reason `why`.
struct Expectation {
  std::string pattern;
  Verdict verdict;
  std::string why;
  int line;
};

// The expectations in `text`, read from `file`: "NAME VERDICT [WHY]" a line,
// VERDICT as VerdictNamed takes it, blank lines and '#' comments ignored.
// Why a line is wrong in `why`.
std::optional<std::vector<Expectation>> ReadExpectations(std::string_view text,
                                                         const std::string& file, std::string& why);

// The expectations in the file `path`, read as ReadExpectations reads them;
// nullopt with the reason in `why` when it cannot be read or is wrong.
std::optional<std::vector<Expectation>> LoadExpectations(const std::string& path, std::string& why);

// A warning for each expectation that names none of `scenarios`: one file
// may serve command lines whose scenarios differ.
std::vector<std::string> UnmatchedExpectations(const std::string& file,
                                               const std::vector<Expectation>& expectations,
                                               const std::vector<Scenario>& scenarios);

struct Judgement {
  Verdict verdict = Verdict::Passed;
  std::string reason;
  bool passed = true;
  bool tolerated = false;  // the verdict is a failure an expectation allows
};

// The verdict on one run: how it ended, what its outputs showed, against
// what the whole job showed, with the expectations' allowances.
Judgement Judge(const Scenario& scenario, const RunResult& run, const Evidence& evidence,
                const WholeJob& whole, const std::vector<Expectation>& expectations);

// "SIGTERM" for 15.
std::string SignalName(int nSignal);

}  // namespace AgentCheck
