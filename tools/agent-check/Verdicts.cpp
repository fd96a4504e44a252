#include "Verdicts.h"

#include <fnmatch.h>

#include <csignal>
#include <cstring>
#include <map>
#include <utility>

#include "Escape.h"

namespace AgentCheck {
namespace {

constexpr std::pair<Verdict, std::pair<const char*, const char*>> kVerdicts[] = {
    {Verdict::Passed, {"passed", "passed"}},
    {Verdict::NotReached, {"not-reached", "not reached"}},
    {Verdict::Hung, {"hung", "hung"}},
    {Verdict::NotGone, {"not-gone", "not gone"}},
    {Verdict::Crashed, {"crashed", "crashed"}},
    {Verdict::ReportedSuccess, {"reported-success", "reported success"}},
    {Verdict::FailedSilently, {"failed-silently", "failed silently"}},
    {Verdict::LeftPartialResults, {"left-partial-results", "left partial results"}},
    {Verdict::MalformedTrace, {"malformed-trace", "malformed trace"}},
};

using Finding = std::pair<Verdict, std::string>;

std::string ExitText(const RunResult& run) {
  return run.exited ? "exit " + std::to_string(run.status) : "killed by " + SignalName(run.signal);
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

bool IsUnder(const std::string& path, const std::string& folder) {
  return folder.empty() || (path.compare(0, folder.size(), folder) == 0 &&
                            path.size() > folder.size() && path[folder.size()] == '/');
}

// The platform call whose failures outnumber the whole job's, if one does.
std::string CallThatFailed(const RunResult& run, const WholeJob& whole) {
  std::vector<std::string> problems;
  std::map<std::string, int> failed;
  for (const CallRecord& record : ReadTranscript(run.transcript, problems)) {
    if (!record.failed) continue;
    const auto known = whole.failedCalls.find(record.call);
    if (++failed[record.call] > (known == whole.failedCalls.end() ? 0 : known->second)) {
      return record.call;
    }
  }
  return {};
}

// Exit 0 that tells the job manager the job was done when it cannot have been.
std::optional<Finding> FalseSuccess(const Scenario& scenario, const RunResult& run,
                                    const WholeJob& whole) {
  if (!run.exited || run.status != 0) return std::nullopt;
  switch (scenario.kind) {
    case Kind::Fault: {
      const std::string call = CallThatFailed(run, whole);
      if (call.empty()) return std::nullopt;
      return Finding{Verdict::ReportedSuccess, "exit 0 after " + call + " failed"};
    }
    case Kind::Cancellation:
      return Finding{Verdict::ReportedSuccess,
                     run.signalSent ? "exit 0 after SIGTERM inside " + scenario.calls.front()
                                    : std::string("exit 0")};
    case Kind::MalformedNumber:
      return Finding{Verdict::ReportedSuccess, "exit 0 with " + scenario.description};
    default:
      return std::nullopt;
  }
}

// A failed job leaves nothing in the results folders and nothing elsewhere
// that the whole job does not; any job leaves in the results folders only
// what the whole job does.
std::optional<Finding> PartialResults(const RunResult& run, const WholeJob& whole) {
  const bool bFailed = !run.exited || run.status != 0;
  for (const LeftFile& file : run.files) {
    bool bInResults = false;
    for (const std::string& folder : whole.resultsFolders)
      bInResults |= IsUnder(file.path, folder);
    const bool bWholeLeavesIt = whole.files.count(file.path) != 0;
    if ((bFailed && (bInResults || !bWholeLeavesIt)) || (bInResults && !bWholeLeavesIt)) {
      return Finding{Verdict::LeftPartialResults,
                     (bFailed ? "failed (" + ExitText(run) + ") but left " : std::string("left ")) +
                         file.path + " (" + std::to_string(file.size) +
                         " bytes), which the whole job " +
                         (bWholeLeavesIt ? "writes" : "does not leave")};
    }
  }
  return std::nullopt;
}

std::optional<Finding> MalformedTrace(const RunResult& run) {
  int nLine = 0;
  for (const std::string_view line : Lines(run.out)) {
    ++nLine;
    const std::optional<TraceLine> trace = ReadTraceLine(line);
    if (trace && !trace->wellFormed) {
      const std::string shown = EscapeText(line.substr(0, 80));
      return Finding{Verdict::MalformedTrace, "stdout line " + std::to_string(nLine) + " \"" +
                                                  shown + "\" is not in the library's form"};
    }
  }
  return std::nullopt;
}

// Every failure the run shows, the first most telling.
std::vector<Finding> Findings(const Scenario& scenario, const RunResult& run,
                              const WholeJob& whole) {
  const bool bCancel = scenario.kind == Kind::Cancellation;
  if (run.timedOut) {
    if (bCancel && run.signalSent) {
      return {{Verdict::NotGone, "still running when the time limit ended, after SIGTERM inside " +
                                     scenario.calls.front()}};
    }
    return {{Verdict::Hung, "still running when the time limit ended"}};
  }
  std::vector<Finding> findings;
  if (!run.exited && !(bCancel && run.signalSent && run.signal == SIGTERM)) {
    findings.emplace_back(Verdict::Crashed, ExitText(run));
  } else if (std::optional<Finding> finding = FalseSuccess(scenario, run, whole)) {
    findings.push_back(std::move(*finding));
  } else if (run.exited && run.status != 0 && IsBlank(run.err)) {
    findings.emplace_back(Verdict::FailedSilently, ExitText(run) + " with nothing on stderr");
  }
  if (std::optional<Finding> finding = PartialResults(run, whole)) {
    findings.push_back(std::move(*finding));
  }
  if (std::optional<Finding> finding = MalformedTrace(run)) findings.push_back(std::move(*finding));
  return findings;
}

}  // namespace

const char* VerdictName(Verdict verdict) {
  for (const auto& [value, names] : kVerdicts) {
    if (value == verdict) return names.first;
  }
  return "unknown";
}

const char* VerdictWords(Verdict verdict) {
  for (const auto& [value, names] : kVerdicts) {
    if (value == verdict) return names.second;
  }
  return "unknown";
}

std::optional<Verdict> VerdictNamed(std::string_view name) {
  for (const auto& [value, names] : kVerdicts) {
    if (name == names.first) return value;
  }
  return std::nullopt;
}

std::string SignalName(int nSignal) {
  const char* pszName = ::sigabbrev_np(nSignal);
  return pszName != nullptr ? std::string("SIG") + pszName : "signal " + std::to_string(nSignal);
}

std::optional<std::vector<Expectation>> ReadExpectations(std::string_view text,
                                                         const std::string& file,
                                                         std::string& why) {
  std::vector<Expectation> expectations;
  int nLine = 0;
  for (std::string_view line : Lines(text)) {
    ++nLine;
    line = line.substr(0, line.find('#'));
    const auto word = [&line] {
      const std::size_t nStart = std::min(line.find_first_not_of(" \t\r"), line.size());
      const std::size_t nEnd = std::min(line.find_first_of(" \t\r", nStart), line.size());
      const std::string_view found = line.substr(nStart, nEnd - nStart);
      line.remove_prefix(nEnd);
      return std::string(found);
    };
    const std::string pattern = word();
    if (pattern.empty()) continue;
    const std::string verdictName = word();
    const std::optional<Verdict> verdict = VerdictNamed(verdictName);
    if (!verdict || *verdict == Verdict::Passed || *verdict == Verdict::NotReached) {
      why = file + ":" + std::to_string(nLine) + ": \"";
      why += verdictName;
      why +=
          "\" is not a failing verdict (crashed, hung, reported-success, failed-silently, "
          "left-partial-results, malformed-trace, not-gone)";
      return std::nullopt;
    }
    const std::size_t nWhy = line.find_first_not_of(" \t");
    std::string reason(nWhy == std::string_view::npos ? "" : line.substr(nWhy));
    while (!reason.empty() &&
           (reason.back() == ' ' || reason.back() == '\t' || reason.back() == '\r'))
      reason.pop_back();
    expectations.push_back(Expectation{pattern, *verdict, reason, nLine});
  }
  return expectations;
}

Judgement Judge(const Scenario& scenario, const RunResult& run, const WholeJob& whole,
                const std::vector<Expectation>& expectations) {
  if (!scenario.notReached.empty()) {
    return Judgement{Verdict::NotReached, scenario.notReached, true, false};
  }
  if (scenario.kind == Kind::Cancellation && !run.signalSent && !run.timedOut && run.exited) {
    return Judgement{Verdict::NotReached,
                     "ended (" + ExitText(run) + ") before its " + scenario.calls.front() + " call",
                     true, false};
  }
  const std::vector<Finding> findings = Findings(scenario, run, whole);
  const auto allowed = [&](const Finding& finding) -> const Expectation* {
    for (const Expectation& expectation : expectations) {
      if (expectation.verdict == finding.first &&
          ::fnmatch(expectation.pattern.c_str(), scenario.name.c_str(), 0) == 0) {
        return &expectation;
      }
    }
    return nullptr;
  };
  const Finding* tolerated = nullptr;
  const Expectation* why = nullptr;
  for (const Finding& finding : findings) {
    const Expectation* expectation = allowed(finding);
    if (expectation == nullptr) return Judgement{finding.first, finding.second, false, false};
    if (tolerated == nullptr) {
      tolerated = &finding;
      why = expectation;
    }
  }
  if (tolerated != nullptr) {
    return Judgement{tolerated->first,
                     tolerated->second + "; expected" + (why->why.empty() ? "" : ": " + why->why),
                     true, true};
  }
  return Judgement{Verdict::Passed, ExitText(run), true, false};
}

}  // namespace AgentCheck
