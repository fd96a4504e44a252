#include "Verdicts.h"

#include <fnmatch.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <map>
#include <set>
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
    {Verdict::LeftProcessesRunning, {"left-processes-running", "left processes running"}},
    {Verdict::MalformedTranscript, {"malformed-transcript", "malformed transcript"}},
    {Verdict::LeftPartialResults, {"left-partial-results", "left partial results"}},
    {Verdict::LeftNoResults, {"left-no-results", "left no results"}},
    {Verdict::MalformedTrace, {"malformed-trace", "malformed trace"}},
    {Verdict::CannotTell, {"cannot-tell", "cannot tell"}},
    {Verdict::Error, {"error", "error"}},
};

// The most words a printed verdict spans.
constexpr int kMostVerdictWords = 3;

using Finding = std::pair<Verdict, std::string>;

std::string PastTheWalk(const RunResult& run) {
  return "the check could not see all it left under the root (" + run.filesIncomplete + ")";
}

std::string ExitText(const RunResult& run) {
  return run.exited ? "exit " + std::to_string(run.status) : "killed by " + SignalName(run.signal);
}

bool IsUnder(const std::string& path, const std::string& folder) {
  return folder.empty() || (path.compare(0, folder.size(), folder) == 0 &&
                            path.size() > folder.size() && path[folder.size()] == '/');
}

// The platform call whose failures outnumber the whole job's, if one does;
// of several, the one that failed first.
std::string CallThatFailed(const Evidence& evidence, const WholeJob& whole) {
  std::string first;
  std::size_t nFirst = 0;
  for (const auto& [call, tally] : evidence.calls) {
    const auto known = whole.failedCalls.find(call);
    if (tally.failed > (known == whole.failedCalls.end() ? 0 : known->second) &&
        (first.empty() || tally.firstFailure < nFirst)) {
      first = call;
      nFirst = tally.firstFailure;
    }
  }
  return first;
}

// A run that reports success leaves in its results folders every file the
// whole job leaves in its own.
std::optional<Finding> MissingResults(const RunResult& run, const Evidence& evidence,
                                      const WholeJob& whole) {
  const std::set<std::string> names = ResultNames(run.files, evidence.resultsFolders);
  for (const std::string& name : whole.resultNames) {
    if (names.count(name) != 0) continue;
    if (!run.filesIncomplete.empty()) {
      return Finding{Verdict::CannotTell, "exit 0, and " + PastTheWalk(run)};
    }
    return Finding{Verdict::ReportedSuccess,
                   "exit 0 but left no " + name + " in its results, which the whole job leaves"};
  }
  return std::nullopt;
}

// Exit 0 that tells the job manager the job was done when it cannot have been.
std::optional<Finding> FalseSuccess(const Scenario& scenario, const RunResult& run,
                                    const Evidence& evidence, const WholeJob& whole) {
  if (!run.exited || run.status != 0) return std::nullopt;
  switch (scenario.kind) {
    case Kind::Fault: {
      const std::string call = CallThatFailed(evidence, whole);
      if (!call.empty())
        return Finding{Verdict::ReportedSuccess, "exit 0 after " + call + " failed"};
      if (run.transcriptCut) {
        return Finding{Verdict::CannotTell, "exit 0, and the transcript is longer than the " +
                                                std::to_string(kMaxTranscript >> 20) +
                                                " MiB read of it"};
      }
      return MissingResults(run, evidence, whole);
    }
    case Kind::Cancellation:
      return Finding{Verdict::ReportedSuccess,
                     run.signalSent ? "exit 0 after SIGTERM inside " + scenario.calls.front()
                                    : std::string("exit 0")};
    case Kind::MalformedNumber:
      return Finding{Verdict::ReportedSuccess, "exit 0 with " + scenario.description};
    case Kind::WholeJob:
      return std::nullopt;
    default:
      return MissingResults(run, evidence, whole);
  }
}

bool InResults(const std::string& path, const WholeJob& whole) {
  return std::any_of(whole.resultsFolders.begin(), whole.resultsFolders.end(),
                     [&path](const std::string& folder) { return IsUnder(path, folder); });
}

// A failed job leaves nothing in the results folders and nothing elsewhere
// that the whole job does not; any job leaves in the results folders only
// what the whole job does.
std::optional<Finding> PartialResults(const RunResult& run, const WholeJob& whole) {
  const bool bFailed = !run.exited || run.status != 0;
  for (const LeftFile& file : run.files) {
    const bool bInResults = InResults(file.path, whole);
    const bool bWholeLeavesIt = whole.files.count(file.path) != 0;
    // Past the whole job's own listing, what it left is not known.
    if (!bWholeLeavesIt && !whole.filesComplete) {
      return Finding{Verdict::CannotTell,
                     "left " + file.path + ", and the check could not see all the whole job left"};
    }
    if ((bFailed && (bInResults || !bWholeLeavesIt)) || (bInResults && !bWholeLeavesIt)) {
      return Finding{Verdict::LeftPartialResults,
                     (bFailed ? "failed (" + ExitText(run) + ") but left " : std::string("left ")) +
                         file.path + " (" + std::to_string(file.size) +
                         " bytes), which the whole job " +
                         (bWholeLeavesIt ? "writes" : "does not leave")};
    }
  }
  if (bFailed && !run.filesIncomplete.empty()) {
    return Finding{Verdict::CannotTell, "failed (" + ExitText(run) + ") and " + PastTheWalk(run)};
  }
  return std::nullopt;
}

// The whole job shows what a done job leaves: something in its results.
std::optional<Finding> NoResults(const RunResult& run, const WholeJob& whole) {
  if (std::any_of(run.files.begin(), run.files.end(),
                  [&whole](const LeftFile& file) { return InResults(file.path, whole); })) {
    return std::nullopt;
  }
  return Finding{Verdict::LeftNoResults,
                 whole.resultsFolders.empty()
                     ? std::string("exit 0, and the platform named no "
                                   "results directory to it")
                     : "exit 0 but left nothing in " + *whole.resultsFolders.begin()};
}

std::string LeftRunningText(const RunResult& run) {
  std::string text = std::to_string(std::max<std::size_t>(run.leftRunning.size(), run.leftCount)) +
                     " running when it ended:";
  for (const std::string& command : run.leftRunning)
    text += (text.back() == ':' ? " " : "; ") + command;
  return text;
}

// Which of the check's bounds the run reached, for its detail; empty when
// none.
std::string CapsReached(const RunResult& run) {
  std::string cut;
  const auto add = [&cut](bool bReached, const std::string& what) {
    if (bReached) cut += (cut.empty() ? "read in part: " : ", ") + what;
  };
  add(run.outCut, "stdout past " + std::to_string(kMaxOut >> 10) + " KiB");
  add(run.errCut, "stderr past " + std::to_string(kMaxErr >> 10) + " KiB");
  add(run.transcriptCut, "the transcript past " + std::to_string(kMaxTranscript >> 10) + " KiB");
  add(!run.filesIncomplete.empty(), "the root (" + run.filesIncomplete + ")");
  return cut;
}

// Every failure the run shows, the first most telling.
std::vector<Finding> Findings(const Scenario& scenario, const RunResult& run,
                              const Evidence& evidence, const WholeJob& whole) {
  const bool bCancel = scenario.kind == Kind::Cancellation;
  if (run.keeperLost) {
    return {{Verdict::LeftProcessesRunning,
             "killed or stopped the check's process that watched it; all it left was killed"}};
  }
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
  } else if (!evidence.transcriptProblems.empty()) {
    findings.emplace_back(Verdict::MalformedTranscript, evidence.transcriptProblems.front());
  } else if (std::optional<Finding> finding = FalseSuccess(scenario, run, evidence, whole)) {
    findings.push_back(std::move(*finding));
  } else if (run.exited && run.status != 0 && evidence.errBlank) {
    findings.emplace_back(Verdict::FailedSilently, ExitText(run) + " with nothing on stderr");
  }
  if (!run.leftRunning.empty()) {
    findings.emplace_back(Verdict::LeftProcessesRunning, LeftRunningText(run));
  }
  if (std::optional<Finding> finding = PartialResults(run, whole)) {
    findings.push_back(std::move(*finding));
  }
  if (scenario.kind == Kind::WholeJob) {
    if (std::optional<Finding> finding = NoResults(run, whole)) {
      findings.push_back(std::move(*finding));
    }
  }
  if (!evidence.malformedTrace.empty()) {
    findings.emplace_back(Verdict::MalformedTrace, evidence.malformedTrace);
  }
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
  std::string hyphenated(name);
  std::replace_if(
      hyphenated.begin(), hyphenated.end(), [](char c) { return c == ' ' || c == '_'; }, '-');
  for (const auto& [value, names] : kVerdicts) {
    if (hyphenated == names.first) return value;
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
    // The verdict is the first words that name one: a printed verdict spans
    // words ("left partial results"), a hyphenated one is a word.
    const std::string_view afterPattern = line;
    std::string verdictName;
    std::optional<Verdict> verdict;
    for (int nWords = 1; nWords <= kMostVerdictWords && !verdict; ++nWords) {
      line = afterPattern;
      verdictName = word();
      for (int n = 1; n < nWords; ++n)
        verdictName += " " + word();
      verdict = VerdictNamed(verdictName);
    }
    if (!verdict || *verdict == Verdict::Passed || *verdict == Verdict::NotReached) {
      line = afterPattern;
      why = file + ":" + std::to_string(nLine) + ": \"";
      why += verdict ? verdictName : word();
      why +=
          "\" is not a failing verdict (crashed, hung, reported success, failed silently, "
          "left partial results, malformed trace, not gone; or hyphenated)";
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

Judgement Judge(const Scenario& scenario, const RunResult& run, const Evidence& evidence,
                const WholeJob& whole, const std::vector<Expectation>& expectations) {
  if (!scenario.notReached.empty()) {
    return Judgement{Verdict::NotReached, scenario.notReached, true, false};
  }
  if (scenario.kind == Kind::Cancellation && !run.signalSent && !run.timedOut && run.exited) {
    return Judgement{Verdict::NotReached,
                     "ended (" + ExitText(run) + ") before its " + scenario.calls.front() + " call",
                     true, false};
  }
  std::vector<Finding> findings = Findings(scenario, run, evidence, whole);
  if (const std::string cut = CapsReached(run); !cut.empty()) {
    for (Finding& finding : findings)
      finding.second += "; " + cut;
    if (findings.empty())
      return Judgement{Verdict::Passed, ExitText(run) + "; " + cut, true, false};
  }
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
