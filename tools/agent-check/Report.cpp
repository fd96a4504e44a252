#include "Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "Escape.h"
#include "Evidence.h"
#include "JsonText.h"
#include "Utf8.h"

namespace AgentCheck {
namespace {

using Json = nlohmann::ordered_json;

constexpr char kCheckName[] = "umx-agent-check";
constexpr char kGreen[] = "\033[32m";
constexpr char kRed[] = "\033[1;31m";
constexpr char kYellow[] = "\033[33m";
constexpr char kDim[] = "\033[2m";
constexpr char kPlain[] = "\033[0m";

// Of a crash's stderr: the lines shown, read from its last bytes only, each
// cut to fit a terminal's line.
constexpr int kCrashLines = 5;
constexpr std::size_t kTailBytes = 4096;
// The verdict column: as wide as the longest verdict, "left processes running".
constexpr std::size_t kVerdictWidth = 22;
constexpr std::size_t kShownLineBytes = 160;

std::string Duration(double seconds) {
  char szText[32];
  if (seconds < 1) {
    std::snprintf(szText, sizeof szText, "%.0f ms", seconds * 1000);
  } else {
    std::snprintf(szText, sizeof szText, "%.1f s", seconds);
  }
  return szText;
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// The last `nLines` lines of the last kTailBytes of `text`, without the
// blank lines after them; the first may be the end of a longer line.
std::string_view TailLines(std::string_view text, int nLines) {
  if (nLines <= 0) return {};
  if (text.size() > kTailBytes) text.remove_prefix(text.size() - kTailBytes);
  std::vector<std::string_view> lines = Lines(text);
  while (!lines.empty() && IsBlank(lines.back()))
    lines.pop_back();
  if (lines.empty()) return {};
  const std::size_t nFirst = lines.size() - std::min<std::size_t>(lines.size(), nLines);
  const char* pszStart = lines[nFirst].data();
  return {pszStart, static_cast<std::size_t>(lines.back().data() + lines.back().size() - pszStart)};
}

// A crash's stderr, and a whole job's that failed: what says why.
bool ShowsStderr(const ScenarioResult& result) {
  const Verdict verdict = result.judgement.verdict;
  return (verdict == Verdict::Crashed || verdict == Verdict::WholeJobFailed) &&
         !result.evidence.errTail.empty();
}

// The hex of the bytes of a text that is not UTF-8; null for one that is.
Json BytesUnlessUtf8(std::string_view text) {
  if (IsUtf8(text)) return nullptr;
  std::string hex;
  AppendHex(hex, text);
  return hex;
}

// The member `name`: the text as it is when it is UTF-8; else with U+FFFD
// in place of its bad bytes (as the document is dumped) and its bytes in hex
// in `nameBytes`.
void PutText(Json& object, const std::string& name, std::string_view text) {
  object[name] = std::string(text);
  if (Json bytes = BytesUnlessUtf8(text); !bytes.is_null())
    object[name + "Bytes"] = std::move(bytes);
}

void PutTextOrNull(Json& object, const std::string& name, std::string_view text) {
  if (text.empty()) {
    object[name] = nullptr;
  } else {
    PutText(object, name, text);
  }
}

// The member `name`, an array of the program and its arguments; with
// `nameBytes`, an array of the hex of each (null for each that is UTF-8),
// when any is not UTF-8.
void PutCommandLine(Json& object, const std::string& name, const std::string& program,
                    const std::vector<std::string>& args) {
  Json texts = Json::array();
  Json bytes = Json::array();
  bool bAllUtf8 = true;
  for (std::size_t n = 0; n <= args.size(); ++n) {
    const std::string& text = n == 0 ? program : args[n - 1];
    texts.push_back(text);
    bytes.push_back(BytesUnlessUtf8(text));
    bAllUtf8 = bAllUtf8 && bytes.back().is_null();
  }
  object[name] = std::move(texts);
  if (!bAllUtf8) object[name + "Bytes"] = std::move(bytes);
}

// Seconds to the millisecond, as a report shows them.
double Rounded(double seconds) { return std::round(seconds * 1000) / 1000; }

Json ScenarioJson(const Check& check, const ScenarioResult& result) {
  const Scenario& scenario = result.scenario;
  const RunResult& run = result.run;
  Json json = Json::object();
  PutText(json, "name", scenario.name);
  json["kind"] = KindName(scenario.kind);
  PutText(json, "description", scenario.description);
  PutCommandLine(json, "commandLine", check.program, scenario.args);
  PutTextOrNull(json, "faults", scenario.faults);
  json["ran"] = result.ran;
  if (result.ran) {
    Json exit = Json::object();
    exit["status"] = run.exited ? Json(run.status) : Json(nullptr);
    exit["signal"] = run.exited ? Json(nullptr) : Json(SignalName(run.signal));
    exit["timedOut"] = run.timedOut;
    exit["sentSignal"] = run.signalSent ? Json("SIGTERM") : Json(nullptr);
    json["exit"] = std::move(exit);
    json["seconds"] = Rounded(run.seconds);
    Json left = Json::array();
    Json leftBytes = Json::array();
    bool bAllUtf8 = true;
    for (const std::string& command : run.leftRunning) {
      left.push_back(command);
      leftBytes.push_back(BytesUnlessUtf8(command));
      bAllUtf8 = bAllUtf8 && leftBytes.back().is_null();
    }
    json["leftRunning"] = std::move(left);
    if (!bAllUtf8) json["leftRunningBytes"] = std::move(leftBytes);
    json["readInPart"] = {{"stdout", run.outCut},
                          {"stderr", run.errCut},
                          {"transcript", run.transcriptCut},
                          {"files", !run.filesIncomplete.empty()}};
  } else {
    json["exit"] = nullptr;
    json["seconds"] = nullptr;
    json["leftRunning"] = nullptr;
    json["readInPart"] = nullptr;
  }
  json["verdict"] = VerdictName(result.judgement.verdict);
  json["passed"] = result.judgement.passed;
  json["tolerated"] = result.judgement.tolerated;
  PutText(json, "reason", result.judgement.reason);
  const bool bFailed = !result.judgement.passed;
  json["hint"] = bFailed ? Json(VerdictHint(result.judgement.verdict)) : Json(nullptr);
  PutTextOrNull(json, "reproduce",
                bFailed ? std::string_view(result.reproduce) : std::string_view());
  PutTextOrNull(
      json, "stderrTail",
      ShowsStderr(result) ? TailLines(result.evidence.errTail, kCrashLines) : std::string_view());
  if (result.ran && !check.keptIn.empty()) {
    Json kept = Json::object();
    PutText(kept, "root", run.root);
    PutText(kept, "stdout", run.outPath);
    PutText(kept, "stderr", run.errPath);
    PutText(kept, "transcript", run.transcriptPath);
    json["kept"] = std::move(kept);
  } else {
    json["kept"] = nullptr;
  }
  return json;
}

// An escaped text as XML text or an attribute's value.
std::string XmlEscaped(std::string_view escaped) {
  std::string xml;
  for (const char c : escaped) {
    switch (c) {
      case '&':
        xml += "&amp;";
        break;
      case '<':
        xml += "&lt;";
        break;
      case '>':
        xml += "&gt;";
        break;
      case '"':
        xml += "&quot;";
        break;
      case '\'':
        xml += "&apos;";
        break;
      default:
        xml += c;
    }
  }
  return xml;
}

// A text escaped as for the terminal, then for XML: the controls, which XML
// 1.0 forbids, and the noncharacters, which it forbids too, are gone.
std::string Xml(std::string_view text) { return XmlEscaped(EscapeText(text)); }

std::string XmlSeconds(double seconds) {
  char szText[32];
  std::snprintf(szText, sizeof szText, "%.3f", seconds);
  return szText;
}

std::string TestCase(const ScenarioResult& result) {
  const Judgement& judgement = result.judgement;
  std::string xml = "    <testcase classname=\"umx-agent-check." +
                    Xml(KindName(result.scenario.kind)) + "\" name=\"" + Xml(result.scenario.name) +
                    "\" time=\"" + XmlSeconds(result.ran ? result.run.seconds : 0) + "\"";
  if (judgement.verdict == Verdict::NotReached) {
    return xml + ">\n      <skipped message=\"" + Xml(judgement.reason) + "\"/>\n    </testcase>\n";
  }
  if (judgement.passed && !judgement.tolerated) return xml + "/>\n";
  if (judgement.tolerated) {
    return xml + ">\n      <system-out>tolerated: " + Xml(VerdictWords(judgement.verdict)) + ": " +
           Xml(judgement.reason) + "</system-out>\n    </testcase>\n";
  }
  const std::string verdict = Xml(VerdictName(judgement.verdict));
  std::string body = Xml(judgement.reason);
  if (ShowsStderr(result))
    body += "\nstderr ends:\n" + XmlEscaped(LastLines(result.evidence.errTail, kCrashLines));
  // JUnit's error is a test that could not run: the check's own failure.
  const std::string element = judgement.verdict == Verdict::Error ? "error" : "failure";
  return xml + ">\n      <" + element + " message=\"" + verdict + "\" type=\"" + verdict + "\">" +
         body + "</" + element + ">\n    </testcase>\n";
}

}  // namespace

Counts Count(const std::vector<ScenarioResult>& results) {
  Counts counts;
  for (const ScenarioResult& result : results) {
    const Kind kind = result.scenario.kind;
    if (kind == Kind::Fault || kind == Kind::Cancellation || kind == Kind::CancelAfter) {
      ++counts.platformScenarios;
      counts.platformFaulted += result.scenario.notReached.empty() ? 1 : 0;
    }
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
  std::snprintf(szLine, sizeof szLine, "%-*s  %-*s  %s\n", static_cast<int>(nNameWidth), "scenario",
                static_cast<int>(kVerdictWidth), "verdict", "detail");
  return szLine;
}

std::string TableLine(const ScenarioResult& result, std::size_t nNameWidth, bool bColour,
                      bool bReplay) {
  const Judgement& judgement = result.judgement;
  std::string verdict = judgement.tolerated ? "tolerated" : VerdictWords(judgement.verdict);
  std::string detail = EscapeText(judgement.reason);
  if (judgement.tolerated) detail = std::string(VerdictWords(judgement.verdict)) + ": " + detail;
  if (result.ran) detail += ", " + Duration(result.run.seconds);
  const char* pszColour = judgement.verdict == Verdict::NotReached ? kDim
                          : !judgement.passed                      ? kRed
                          : judgement.tolerated                    ? kYellow
                                                                   : kGreen;
  std::string line = result.scenario.name;
  line.resize(std::max(line.size(), nNameWidth), ' ');
  verdict.resize(std::max(verdict.size(), kVerdictWidth), ' ');
  line += "  ";
  if (bColour) line += pszColour;
  line += verdict;
  if (bColour) line += kPlain;
  line += "  " + detail + "\n";
  if (ShowsStderr(result)) line += LastLines(result.evidence.errTail, kCrashLines);
  if (!judgement.passed) {
    line += std::string("  hint: ") + VerdictHint(judgement.verdict) + "\n";
    if (bReplay && !result.reproduce.empty()) line += "  replay: " + result.reproduce + "\n";
  }
  return line;
}

std::string SummaryLine(const Counts& counts, double seconds) {
  char szLine[256];
  const std::string tolerated =
      counts.tolerated == 0 ? "" : " (" + std::to_string(counts.tolerated) + " tolerated)";
  std::snprintf(
      szLine, sizeof szLine,
      "%d passed%s, %d failed, %d not reached; %d of %d platform calls faulted in %.1f s\n",
      counts.passed, tolerated.c_str(), counts.failed, counts.notReached, counts.platformFaulted,
      counts.platformScenarios, seconds);
  return szLine;
}

std::string ScenarioListJson(const std::string& program, const std::vector<Scenario>& scenarios) {
  Json list = Json::array();
  for (const Scenario& scenario : scenarios) {
    Json json = Json::object();
    PutText(json, "name", scenario.name);
    json["kind"] = KindName(scenario.kind);
    PutText(json, "description", scenario.description);
    PutCommandLine(json, "commandLine", program, scenario.args);
    PutTextOrNull(json, "faults", scenario.faults);
    list.push_back(std::move(json));
  }
  return list.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string LastLines(std::string_view text, int nLines) {
  std::string shown;
  for (std::string_view line : Lines(TailLines(text, nLines))) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    shown += "  | ";
    if (line.size() <= kShownLineBytes) {
      shown += EscapeText(line);
    } else {
      // Cut where a character begins, so that none is shown half.
      std::size_t nCut = kShownLineBytes;
      while (nCut > kShownLineBytes - 3 && (static_cast<unsigned char>(line[nCut]) & 0xC0) == 0x80)
        --nCut;
      shown += EscapeText(line.substr(0, nCut)) + " ...";
    }
    shown += '\n';
  }
  return shown;
}

std::string JsonReport(const Check& check, const std::vector<ScenarioResult>& results) {
  const Counts counts = Count(results);
  Json json = Json::object();
  json["version"] = kReportVersion;
  json["checkerVersion"] = check.checkerVersion;
  PutText(json, "program", check.program);
  PutCommandLine(json, "commandLine", check.program, check.args);
  json["timeLimitSeconds"] = Rounded(check.timeLimit);
  json["jobs"] = check.jobs;
  json["isolation"] = check.isolation;
  json["seconds"] = Rounded(check.seconds);
  PutTextOrNull(json, "keptIn", check.keptIn);
  json["passed"] = counts.failed == 0;
  json["counts"] = {{"passed", counts.passed},
                    {"failed", counts.failed},
                    {"notReached", counts.notReached},
                    {"tolerated", counts.tolerated},
                    {"errors", counts.errors}};
  json["coverage"] = {{"faulted", counts.platformFaulted}, {"of", counts.platformScenarios}};
  Json scenarios = Json::array();
  for (const ScenarioResult& result : results)
    scenarios.push_back(ScenarioJson(check, result));
  json["scenarios"] = std::move(scenarios);
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string JunitReport(const Check& check, const std::vector<ScenarioResult>& results) {
  const Counts counts = Count(results);
  const std::string totals = "tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                             std::to_string(counts.failed - counts.errors) + "\" errors=\"" +
                             std::to_string(counts.errors) + "\" skipped=\"" +
                             std::to_string(counts.notReached) + "\" time=\"" +
                             XmlSeconds(check.seconds) + "\"";
  std::string commandLine = check.program;
  for (const std::string& arg : check.args)
    commandLine += " " + arg;
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"umx-agent-check\" " + totals +
      ">\n  <testsuite name=\"umx-agent-check\" " + totals +
      ">\n    <properties>\n      <property name=\"commandLine\" value=\"" + Xml(commandLine) +
      "\"/>\n    </properties>\n";
  for (const ScenarioResult& result : results)
    xml += TestCase(result);
  return xml + "  </testsuite>\n</testsuites>\n";
}

TablePrinter::TablePrinter(const std::vector<ScenarioResult>& results, std::FILE* out,
                           bool bTerminal)
    : m_results(results), m_out(out), m_bTerminal(bTerminal) {
  for (const ScenarioResult& result : results)
    m_nNameWidth = std::max(m_nNameWidth, result.scenario.name.size());
}

void TablePrinter::Heading(const std::string& program, const std::vector<std::string>& args,
                           const Isolation& isolation) const {
  std::fprintf(m_out, "%s: %s", kCheckName, EscapeText(program).c_str());
  for (const std::string& arg : args)
    std::fprintf(m_out, " %s", EscapeText(arg).c_str());
  if (isolation.sandbox) {
    std::fprintf(m_out, "\n%s: isolation: sandbox", kCheckName);
  } else {
    std::fprintf(m_out, "\n%s: isolation: subreaper (no sandbox: %s)", kCheckName,
                 EscapeText(isolation.why).c_str());
  }
  if (isolation.interposer.empty()) {
    std::fprintf(m_out, "\n%s: no crash points: umx-agent-interposer.so is missing", kCheckName);
  }
  std::fprintf(m_out, "\n%s", TableHeading(m_nNameWidth).c_str());
}

void TablePrinter::Line(std::size_t n) {
  const ScenarioResult& result = m_results[n];
  const bool bReplay = !result.judgement.passed && !m_bReplayShown;
  m_bReplayShown = m_bReplayShown || bReplay;
  std::fputs(TableLine(result, m_nNameWidth, m_bTerminal, bReplay).c_str(), m_out);
}

void TablePrinter::Done(std::size_t nFrom, std::size_t nTo) {
  for (std::size_t n = nFrom; n < nTo; ++n)
    Line(n);
  std::fflush(m_out);
}

void TablePrinter::InOrder(WorkerPool& pool, std::size_t nFrom) {
  for (std::size_t n = nFrom; n < m_results.size(); ++n) {
    pool.WaitFor(n - nFrom);
    if (m_bTerminal) std::fputs("\r\033[K", m_out);
    Line(n);
    if (m_bTerminal && n + 1 < m_results.size()) {
      std::fprintf(m_out, "%s: %zu of %zu done, running %s ...", kCheckName,
                   nFrom + pool.DoneCount(), m_results.size(),
                   EscapeText(m_results[n + 1].scenario.name).c_str());
    }
    std::fflush(m_out);
  }
}

}  // namespace AgentCheck
