// What the agent check reports: a table for the terminal and the whole
// report as JSON.
#pragma once

#include <string>
#include <vector>

#include "Runner.h"
#include "Scenarios.h"
#include "Verdicts.h"

namespace AgentCheck {

// The version of the JSON report; its fields are only ever added.
constexpr int kReportVersion = 1;

struct ScenarioResult {
  Scenario scenario;
  bool ran = false;
  RunResult run;
  Judgement judgement;
};

struct Check {
  std::string program;
  std::vector<std::string> args;
  double timeLimit = 0;
  int jobs = 0;
  std::string keptIn;  // the folder that keeps the outputs; empty: none kept
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
std::string TableHeading(std::size_t nNameWidth);
std::string TableLine(const ScenarioResult& result, std::size_t nNameWidth, bool bColour);

std::string JsonReport(const Check& check, const std::vector<ScenarioResult>& results);

}  // namespace AgentCheck
