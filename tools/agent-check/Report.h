// What the agent check reports: a table for the terminal, and the whole
// report as JSON and as JUnit XML.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Pool.h"
#include "Runner.h"
#include "Scenarios.h"
#include "Verdicts.h"

namespace AgentCheck {

// The version of the JSON report; its fields are only ever added.
constexpr int kReportVersion = 4;

struct ScenarioResult {
  Scenario scenario;
  bool ran = false;
  RunResult run;
  Evidence evidence;
  Judgement judgement;
  std::string reproduce;  // a command that replays a failing run; empty for one that passed
};

struct Check {
  std::string checkerVersion;
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
  // The scenarios that fault or cancel a platform call, and those of them
  // that a whole job reached.
  int platformScenarios = 0;
  int platformFaulted = 0;
};
Counts Count(const std::vector<ScenarioResult>& results);

// The table's heading, and one line for a scenario; both end with a line end.
// A crash's line, and a failed whole job's, is followed by the last lines
// of the agent's stderr; a failure's by its hint and, with `bReplay`, the
// command that replays it.
std::string TableHeading(std::size_t nNameWidth);
std::string TableLine(const ScenarioResult& result, std::size_t nNameWidth, bool bColour,
                      bool bReplay);

// The summary line: "N passed, N failed, N not reached; 27 of 31 platform
// calls faulted in 1.2 s", with a line end.
std::string SummaryLine(const Counts& counts, double seconds);

// The scenarios as --list --json gives them: a JSON array of their names,
// kinds, descriptions and command lines.
std::string ScenarioListJson(const std::string& program, const std::vector<Scenario>& scenarios);

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

// Prints the table to `out`: its heading, then each scenario's line once it
// and those before it are done, with a progress line on a terminal. It only
// prints; the pool runs.
class TablePrinter {
 public:
  TablePrinter(const std::vector<ScenarioResult>& results, std::FILE* out, bool bTerminal);
  void Heading(const std::string& program, const std::vector<std::string>& args,
               const Isolation& isolation) const;
  // The lines of `results[nFrom]` onwards, each as `pool` finishes it; the
  // pool's items are the results from `nFrom`.
  void InOrder(WorkerPool& pool, std::size_t nFrom);
  // The lines of `results[nFrom]` up to `nTo`, done already.
  void Done(std::size_t nFrom, std::size_t nTo);

 private:
  void Line(std::size_t n);

  const std::vector<ScenarioResult>& m_results;
  std::FILE* m_out;
  bool m_bTerminal;
  std::size_t m_nNameWidth = 8;
  bool m_bReplayShown = false;  // only the first failure's replay is printed
};

}  // namespace AgentCheck
