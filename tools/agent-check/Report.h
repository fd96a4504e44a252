// What the agent check reports: a table for the terminal, and the whole
// report as JSON and as JUnit XML.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Runner.h"
#include "Scenarios.h"
#include "Verdicts.h"

namespace AgentCheck {

// The version of the JSON report; its fields are only ever added.
constexpr int kReportVersion = 3;

struct ScenarioResult {
  Scenario scenario;
  bool ran = false;
  RunResult run;
  Evidence evidence;
  Judgement judgement;
};

struct Check {
  std::string program;
  std::vector<std::string> args;
  double timeLimit = 0;
  int jobs = 0;
  std::string isolation;  // "sandbox" or "subreaper"
  std::string keptIn;     // the folder that keeps the outputs; empty: none kept
  double seconds = 0;
};

struct Counts {
  int passed = 0;
  int failed = 0;
  int notReached = 0;
  int tolerated = 0;
  int errors = 0;  // of the failed: the check could not prepare or start them
};
Counts Count(const std::vector<ScenarioResult>& results);

// The table's heading, and one line for a scenario; both end with a line end.
// A crash's line is followed by the last lines of the agent's stderr.
std::string TableHeading(std::size_t nNameWidth);
std::string TableLine(const ScenarioResult& result, std::size_t nNameWidth, bool bColour);

// The last `nLines` lines of `text`, read from its last few kilobytes, blank
// lines at the end left out: each escaped, cut to fit a terminal's line,
// prefixed "  | " and ended by a line end. Empty when there are none.
[[nodiscard]] std::string LastLines(std::string_view text, int nLines);

// Strict JSON in UTF-8; a text that is not UTF-8 is written with U+FFFD in
// place of its bad bytes, and all its bytes in hex in a member of the same
// name ending in "Bytes".
std::string JsonReport(const Check& check, const std::vector<ScenarioResult>& results);

// JUnit XML, as CI test reporters read it: a test case for each scenario;
// a failure, a skip for a scenario not reached, a tolerated one passed with
// a note. The agent's texts are escaped as on the terminal.
[[nodiscard]] std::string JunitReport(const Check& check,
                                      const std::vector<ScenarioResult>& results);

}  // namespace AgentCheck
