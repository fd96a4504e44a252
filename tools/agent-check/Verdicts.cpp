#include "Verdicts.h"

#include <fnmatch.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "Escape.h"

namespace AgentCheck {
namespace {

struct VerdictInfo {
  Verdict verdict;
  const char* words;
  const char* hint;
  std::string name;  // the words hyphenated
};

const std::vector<VerdictInfo>& Verdicts() {
  static const std::vector<VerdictInfo> verdicts = [] {
    std::vector<VerdictInfo> list = {
#define UMX_VERDICT_INFO(id, words, hint) {Verdict::id, words, hint, words},
        UMX_AGENT_CHECK_VERDICTS(UMX_VERDICT_INFO)
#undef UMX_VERDICT_INFO
    };
    for (VerdictInfo& info : list)
      std::replace(info.name.begin(), info.name.end(), ' ', '-');
    return list;
  }();
  return verdicts;
}

const VerdictInfo& InfoOf(Verdict verdict) { return Verdicts()[static_cast<std::size_t>(verdict)]; }

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
    case Kind::CancelAfter:
      return Finding{Verdict::ReportedSuccess,
                     "exit 0 after SIGTERM as " + scenario.calls.front() + " returned"};
    case Kind::MalformedNumber:
      return Finding{Verdict::ReportedSuccess, "exit 0 with " + scenario.description};
    case Kind::WholeJob:
    case Kind::CrashPoint:
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

// A run that names its client with -cn and succeeds leaves its results in
// the directory the platform named for that client.
std::optional<Finding> WrongFolder(const Scenario& scenario, const RunResult& run,
                                   const Evidence& evidence) {
  const std::optional<std::string> client = OptionValue(scenario.args, "-cn");
  if (!client || !run.exited || run.status != 0) return std::nullopt;
  const auto named = evidence.clientResultsFolders.find(*client);
  for (const LeftFile& file : run.files) {
    const auto in =
        std::find_if(evidence.resultsFolders.begin(), evidence.resultsFolders.end(),
                     [&file](const std::string& folder) { return IsUnder(file.path, folder); });
    if (in == evidence.resultsFolders.end()) continue;
    if (named != evidence.clientResultsFolders.end() && IsUnder(file.path, named->second)) {
      continue;
    }
    const std::string wanted = named == evidence.clientResultsFolders.end()
                                   ? "the directory the platform names for client " +
                                         EscapeText(*client) + " (-cn), which it never asked for"
                                   : named->second + ", the platform's directory for client " +
                                         EscapeText(*client) + " (-cn)";
    return Finding{
        Verdict::WrongResultsFolder,
        "left " + file.path + " in " + (in->empty() ? "the root" : *in) + ", not in " + wanted};
  }
  return std::nullopt;
}

// Killed at one of its changes, a job leaves each of the whole job's
// results absent or whole.
std::vector<Finding> CrashFindings(const Scenario& scenario, const RunResult& run,
                                   const WholeJob& whole) {
  const std::string at = "killed at change " + std::to_string(scenario.crashAt);
  for (const LeftFile& result : whole.results) {
    const auto left =
        std::find_if(run.files.begin(), run.files.end(),
                     [&result](const LeftFile& file) { return file.path == result.path; });
    if (left == run.files.end()) continue;
    if (!left->digested || !result.digested) {
      return {
          {Verdict::CannotTell, at + ", it left " + result.path +
                                    ", too large for the check to compare with the whole job's"}};
    }
    if (left->size != result.size || left->digest != result.digest) {
      return {{Verdict::LeftPartialResults,
               at + ", it left " + result.path + " with " + std::to_string(left->size) +
                   (left->size == result.size ? " bytes unlike" : " bytes, not") +
                   " the whole job's " + std::to_string(result.size)}};
    }
  }
  if (!run.filesIncomplete.empty())
    return {{Verdict::CannotTell, at + ", and " + PastTheWalk(run)}};
  return {};
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
  // Ended by the SIGTERM the scenario sent: a cancelled job.
  const bool bCancelled = !run.exited && run.signal == SIGTERM &&
                          ((bCancel && run.signalSent) || scenario.kind == Kind::CancelAfter);
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
  if (!run.exited && !bCancelled) {
    findings.emplace_back(Verdict::Crashed, ExitText(run));
  } else if (!evidence.transcriptProblems.empty()) {
    findings.emplace_back(Verdict::MalformedTranscript, evidence.transcriptProblems.front());
  } else if (std::optional<Finding> finding = FalseSuccess(scenario, run, evidence, whole)) {
    findings.push_back(std::move(*finding));
  } else if (run.exited && run.status != 0 && evidence.errBlank) {
    findings.emplace_back(Verdict::FailedSilently, ExitText(run) + " with nothing on stderr");
  } else if (scenario.kind == Kind::WholeJob && run.exited && run.status != 0) {
    findings.emplace_back(Verdict::WholeJobFailed, ExitText(run) + " with nothing armed");
  }
  if (!run.leftRunning.empty()) {
    findings.emplace_back(Verdict::LeftProcessesRunning, LeftRunningText(run));
  }
  if (std::optional<Finding> finding = PartialResults(run, whole)) {
    findings.push_back(std::move(*finding));
  }
  if (std::optional<Finding> finding = WrongFolder(scenario, run, evidence)) {
    findings.push_back(std::move(*finding));
  }
  if (scenario.kind == Kind::WholeJob && run.exited && run.status == 0) {
    if (std::optional<Finding> finding = NoResults(run, whole)) {
      findings.push_back(std::move(*finding));
    }
  }
  if (!run.wroteOutside.empty()) {
    findings.emplace_back(Verdict::WroteOutside,
                          "changed a file outside its folders: " + EscapeText(run.wroteOutside));
  }
  if (!evidence.malformedTrace.empty()) {
    findings.emplace_back(Verdict::MalformedTrace, evidence.malformedTrace);
  }
  if (!evidence.rawText.empty()) {
    findings.emplace_back(Verdict::PrintedRawText, evidence.rawText);
  }
  return findings;
}

}  // namespace

const std::vector<Verdict>& AllVerdicts() {
  static const std::vector<Verdict> all = [] {
    std::vector<Verdict> list;
    for (const VerdictInfo& info : Verdicts())
      list.push_back(info.verdict);
    return list;
  }();
  return all;
}

const char* VerdictName(Verdict verdict) { return InfoOf(verdict).name.c_str(); }

const char* VerdictWords(Verdict verdict) { return InfoOf(verdict).words; }

const char* VerdictHint(Verdict verdict) { return InfoOf(verdict).hint; }

std::optional<Verdict> VerdictNamed(std::string_view name) {
  std::string hyphenated(name);
  std::replace_if(
      hyphenated.begin(), hyphenated.end(), [](char c) { return c == ' ' || c == '_'; }, '-');
  for (const VerdictInfo& info : Verdicts()) {
    if (hyphenated == info.name) return info.verdict;
  }
  return std::nullopt;
}

bool IsAgentFailure(Verdict verdict) {
  return verdict != Verdict::Passed && verdict != Verdict::NotReached && verdict != Verdict::Error;
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
    if (!verdict || !IsAgentFailure(*verdict)) {
      line = afterPattern;
      why = file + ":" + std::to_string(nLine) + ": \"";
      why += verdict ? verdictName : word();
      why += "\" is not a failing verdict (";
      for (const Verdict failure : AllVerdicts()) {
        if (!IsAgentFailure(failure)) continue;
        if (why.back() != '(') why += ", ";
        why += VerdictWords(failure);
      }
      why += "; or hyphenated)";
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

std::optional<std::vector<Expectation>> LoadExpectations(const std::string& path,
                                                         std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ReadExpectations(text.str(), path, why);
}

std::vector<std::string> UnmatchedExpectations(const std::string& file,
                                               const std::vector<Expectation>& expectations,
                                               const std::vector<Scenario>& scenarios) {
  std::vector<std::string> warnings;
  for (const Expectation& expectation : expectations) {
    if (!NamesAny(expectation.pattern, scenarios)) {
      warnings.push_back(EscapeText(file) + ":" + std::to_string(expectation.line) + ": " +
                         EscapeText(expectation.pattern) + " names no scenario");
    }
  }
  return warnings;
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
  if (scenario.kind == Kind::CrashPoint && !run.timedOut &&
      !(!run.exited && run.signal == SIGKILL)) {
    return Judgement{
        Verdict::NotReached,
        "ended (" + ExitText(run) + ") before its change " + std::to_string(scenario.crashAt), true,
        false};
  }
  if (scenario.kind == Kind::CancelAfter && !run.timedOut) {
    const auto tally = evidence.calls.find(scenario.calls.front());
    if (tally == evidence.calls.end() || tally->second.made == 0) {
      return Judgement{
          Verdict::NotReached,
          "ended (" + ExitText(run) + ") before its " + scenario.calls.front() + " call", true,
          false};
    }
  }
  std::vector<Finding> findings = scenario.kind == Kind::CrashPoint && !run.timedOut
                                      ? CrashFindings(scenario, run, whole)
                                      : Findings(scenario, run, evidence, whole);
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
