#include "Report.h"

#include <algorithm>
#include <cstdio>

#include "Json.h"

namespace AgentCheck {
namespace {

constexpr char kGreen[] = "\033[32m";
constexpr char kRed[] = "\033[1;31m";
constexpr char kYellow[] = "\033[33m";
constexpr char kDim[] = "\033[2m";
constexpr char kPlain[] = "\033[0m";

std::string Duration(double seconds) {
  char szText[32];
  if (seconds < 1) {
    std::snprintf(szText, sizeof szText, "%.0f ms", seconds * 1000);
  } else {
    std::snprintf(szText, sizeof szText, "%.1f s", seconds);
  }
  return szText;
}

// Each control character as '?': the texts come from the agent.
std::string Shown(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

void WriteCommandLine(JsonWriter& json, const std::string& program,
                      const std::vector<std::string>& args) {
  json.BeginArray().Text(program);
  for (const std::string& arg : args)
    json.Text(arg);
  json.EndArray();
}

void WriteScenario(JsonWriter& json, const Check& check, const ScenarioResult& result) {
  const Scenario& scenario = result.scenario;
  const RunResult& run = result.run;
  json.BeginObject();
  json.Key("name").Text(scenario.name);
  json.Key("kind").Text(KindName(scenario.kind));
  json.Key("description").Text(scenario.description);
  json.Key("commandLine");
  WriteCommandLine(json, check.program, scenario.args);
  json.Key("faults").TextOrNull(scenario.faults);
  json.Key("ran").Flag(result.ran);
  json.Key("exit");
  if (result.ran) {
    json.BeginObject();
    json.Key("status");
    run.exited ? json.Number(run.status) : json.Null();
    json.Key("signal").TextOrNull(run.exited ? std::string() : SignalName(run.signal));
    json.Key("timedOut").Flag(run.timedOut);
    json.Key("sentSignal").TextOrNull(run.signalSent ? "SIGTERM" : "");
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("seconds");
  result.ran ? json.Number(run.seconds) : json.Null();
  json.Key("verdict").Text(VerdictName(result.judgement.verdict));
  json.Key("passed").Flag(result.judgement.passed);
  json.Key("tolerated").Flag(result.judgement.tolerated);
  json.Key("reason").Text(result.judgement.reason);
  json.Key("kept");
  if (result.ran && !check.keptIn.empty()) {
    json.BeginObject();
    json.Key("root").Text(run.root);
    json.Key("stdout").Text(run.outPath);
    json.Key("stderr").Text(run.errPath);
    json.Key("transcript").Text(run.transcriptPath);
    json.EndObject();
  } else {
    json.Null();
  }
  json.EndObject();
}

}  // namespace

Counts Count(const std::vector<ScenarioResult>& results) {
  Counts counts;
  for (const ScenarioResult& result : results) {
    if (result.judgement.verdict == Verdict::NotReached) {
      ++counts.notReached;
    } else if (!result.judgement.passed) {
      ++counts.failed;
      counts.errors += result.judgement.verdict == Verdict::Error ? 1 : 0;
    } else {
      ++counts.passed;
      counts.tolerated += result.judgement.tolerated ? 1 : 0;
    }
  }
  return counts;
}

std::string TableHeading(std::size_t nNameWidth) {
  char szLine[256];
  std::snprintf(szLine, sizeof szLine, "%-*s  %-20s  %s\n", static_cast<int>(nNameWidth),
                "scenario", "verdict", "detail");
  return szLine;
}

std::string TableLine(const ScenarioResult& result, std::size_t nNameWidth, bool bColour) {
  const Judgement& judgement = result.judgement;
  std::string verdict = judgement.tolerated ? "tolerated" : VerdictWords(judgement.verdict);
  std::string detail = Shown(judgement.reason);
  if (judgement.tolerated) detail = std::string(VerdictWords(judgement.verdict)) + ": " + detail;
  if (result.ran) detail += ", " + Duration(result.run.seconds);
  const char* pszColour = judgement.verdict == Verdict::NotReached ? kDim
                          : !judgement.passed                      ? kRed
                          : judgement.tolerated                    ? kYellow
                                                                   : kGreen;
  std::string line = result.scenario.name;
  line.resize(std::max(line.size(), nNameWidth), ' ');
  verdict.resize(std::max<std::size_t>(verdict.size(), 20), ' ');
  line += "  ";
  if (bColour) line += pszColour;
  line += verdict;
  if (bColour) line += kPlain;
  return line + "  " + detail + "\n";
}

std::string JsonReport(const Check& check, const std::vector<ScenarioResult>& results) {
  const Counts counts = Count(results);
  JsonWriter json;
  json.BeginObject();
  json.Key("version").Number(kReportVersion);
  json.Key("program").Text(check.program);
  json.Key("commandLine");
  WriteCommandLine(json, check.program, check.args);
  json.Key("timeLimitSeconds").Number(check.timeLimit);
  json.Key("jobs").Number(check.jobs);
  json.Key("seconds").Number(check.seconds);
  json.Key("keptIn").TextOrNull(check.keptIn);
  json.Key("passed").Flag(counts.failed == 0);
  json.Key("counts").BeginObject();
  json.Key("passed").Number(counts.passed);
  json.Key("failed").Number(counts.failed);
  json.Key("notReached").Number(counts.notReached);
  json.Key("tolerated").Number(counts.tolerated);
  json.EndObject();
  json.Key("scenarios").BeginArray();
  for (const ScenarioResult& result : results)
    WriteScenario(json, check, result);
  json.EndArray();
  json.EndObject();
  return json.Document();
}

}  // namespace AgentCheck
