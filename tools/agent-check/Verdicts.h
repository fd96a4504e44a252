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

// In the order they are looked for.
enum class Verdict {
  Passed,
  NotReached,
  Hung,
  NotGone,
  Crashed,
  ReportedSuccess,
  FailedSilently,
  LeftProcessesRunning,
  MalformedTranscript,
  LeftPartialResults,
  LeftNoResults,
  MalformedTrace,
  CannotTell,  // what the judgement needed was past a cap
  Error,       // the check itself could not prepare or start the scenario
};
// "reported-success", as the report and the expectations file name it.
const char* VerdictName(Verdict verdict);
// "reported success", as the table shows it.
const char* VerdictWords(Verdict verdict);
// The verdict named either way, or with words joined by '_'.
std::optional<Verdict> VerdictNamed(std::string_view name);

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
