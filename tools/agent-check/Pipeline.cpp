#include "Pipeline.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Escape.h"
#include "Evidence.h"
#include "Pool.h"
#include "Report.h"
#include "Runner.h"
#include "Scenarios.h"
#include "Verdicts.h"

namespace AgentCheck {
namespace {

constexpr char kProgram[] = "umx-agent-check";

void Warn(const std::string& what) {
  std::fprintf(stderr, "%s: warning: %s\n", kProgram, what.c_str());
}

// The command lines: the job's (the default one unless given), with --arg's
// words after it, and the same without its -cn.
Baselines CommandLines(const Options& options) {
  Baselines baselines;
  baselines.args = options.args.empty() ? DefaultCommandLine() : options.args;
  baselines.args.insert(baselines.args.end(), options.ownArgs.begin(), options.ownArgs.end());
  baselines.ownOptions = options.ownArgs;
  if (OptionValue(baselines.args, "-cn")) {
    for (std::size_t i = 0; i < baselines.args.size(); ++i) {
      if (baselines.args[i] == "-cn" && i + 1 < baselines.args.size()) {
        ++i;
      } else {
        baselines.argsWithoutClient.push_back(baselines.args[i]);
      }
    }
  }
  return baselines;
}

// Lists the scenarios that --only leaves, running nothing: as a table, or
// as JSON where --json names a file.
int List(const Options& options, const std::string& program,
         const std::vector<Scenario>& scenarios) {
  std::vector<Scenario> listed;
  for (const Scenario& scenario : scenarios) {
    if (options.only.empty() || scenario.kind == Kind::WholeJob ||
        MatchesAny(options.only, scenario.name)) {
      listed.push_back(scenario);
    }
  }
  if (!options.json.empty()) {
    std::string why;
    std::optional<ReportFile> json = ReportFile::Open("--json", options.json, why);
    if (!json || !json->Write(ScenarioListJson(program, listed), why)) return CannotRun(why);
    return kExitPassed;
  }
  for (const Scenario& scenario : listed) {
    std::printf("%-32s %s\n", EscapeText(scenario.name).c_str(),
                EscapeText(scenario.description).c_str());
  }
  return kExitPassed;
}

// One run of the check: what it was given and what it found, scenario by
// scenario.
class CheckRun {
 public:
  CheckRun(const Options& options, const std::atomic<int>& stopSignal, int nStopFd)
      : m_options(options), m_stopSignal(stopSignal), m_nStopFd(nStopFd) {}

  int Run();

 private:
  bool Stopped() const { return m_stopSignal.load() != 0; }
  // What runs a scenario: the whole jobs and the crash points with the
  // interposer, which slows an agent's every change, the rest without.
  RunRequest RequestFor(const Scenario& scenario) const {
    RunRequest request{
        m_program, scenario.args, scenario.faults,     scenario.kind == Kind::Cancellation,
        nullptr,   &*m_isolation, m_options.timeLimit, m_nStopFd};
    request.interpose = scenario.kind == Kind::WholeJob || scenario.kind == Kind::CrashPoint;
    request.crashAt = scenario.crashAt;
    return request;
  }
  // Runs the agent for `request` once, in a new folder named after `label`;
  // false when it did not run (the check stopped, or could not start it).
  bool RunOnce(ScenarioResult& result, const RunRequest& request, const std::string& label,
               Evidence& evidence);
  // Lets go of what judging a run needed, so that the check's memory does
  // not grow with the scenarios; the end of stderr stays, for a crash's
  // detail.
  static void LetGo(ScenarioResult& result, Evidence& evidence);
  // Runs the scenario of `result`, numbered `n`, as many times as --repeat
  // says or until a run fails, and judges it. False when it did not run.
  bool RunAndJudge(ScenarioResult& result, std::size_t n, const WholeJob& baseline);
  // The whole jobs, first of all; false when the check cannot go on.
  bool RunWholeJobs(std::string& why);
  int Finish(std::chrono::steady_clock::time_point start, std::FILE* out);

  const Options& m_options;
  const std::atomic<int>& m_stopSignal;
  const int m_nStopFd;
  Baselines m_baselines;
  std::vector<Expectation> m_expectations;
  std::string m_program;
  std::optional<Isolation> m_isolation;
  std::optional<BaseFolder> m_base;
  std::optional<ReportFile> m_json, m_junit;
  std::vector<ScenarioResult> m_results;
  std::size_t m_nWholeJobs = 0;
  std::vector<WholeJob> m_wholeJobs;  // learnt from the whole jobs that passed
};

bool CheckRun::RunOnce(ScenarioResult& result, const RunRequest& request, const std::string& label,
                       Evidence& evidence) {
  if (Stopped()) return false;
  const std::optional<ScenarioFolder> folder =
      MakeScenarioFolder(*m_base, label, result.run.startError);
  if (!folder) return false;
  RunRequest run = request;
  run.folder = &*folder;
  result.run = RunAgent(run, evidence);
  result.ran = result.run.startError.empty() && !result.run.stopped;
  return result.ran;
}

void CheckRun::LetGo(ScenarioResult& result, Evidence& evidence) {
  result.evidence = Evidence{};
  result.evidence.errTail = std::move(evidence.errTail);
  std::vector<LeftFile>().swap(result.run.files);
}

bool CheckRun::RunAndJudge(ScenarioResult& result, std::size_t n, const WholeJob& baseline) {
  const RunRequest request = RequestFor(result.scenario);
  for (int nRun = 1; nRun <= m_options.repeat; ++nRun) {
    std::string label = FolderLabel(n, result.scenario.name);
    if (nRun > 1) label += "-run" + std::to_string(nRun);
    Evidence evidence;
    if (!RunOnce(result, request, label, evidence)) return false;
    result.judgement = Judge(result.scenario, result.run, evidence, baseline, m_expectations);
    LetGo(result, evidence);
    if (!result.judgement.passed) break;
  }
  if (!result.judgement.passed) result.reproduce = ReproduceCommand(request);
  return true;
}

bool CheckRun::RunWholeJobs(std::string& why) {
  const std::vector<Scenario> wholeJobs = MakeWholeJobs(m_baselines);
  for (std::size_t n = 0; n < wholeJobs.size(); ++n) {
    ScenarioResult& result = m_results.emplace_back();
    result.scenario = wholeJobs[n];
    const RunRequest request = RequestFor(result.scenario);
    Evidence evidence;
    if (!RunOnce(result, request, FolderLabel(n, result.scenario.name), evidence)) {
      why = result.run.startError;
      return false;
    }
    if (n == 0 && evidence.nRecords == 0 && evidence.transcriptProblems.empty() &&
        result.run.exited && result.run.status == 0) {
      why = "the whole job made no platform call: " + m_program +
            " does not run on the local platform";
      return false;
    }
    // Judged against what it showed itself.
    const WholeJob baseline = LearnWholeJob(result.run, evidence);
    result.judgement = Judge(result.scenario, result.run, evidence, baseline, m_expectations);
    if (!result.judgement.passed) result.reproduce = ReproduceCommand(request);
    // A whole job that failed, or whose transcript cannot be trusted, is no
    // baseline: what only it would reach is not run.
    const bool bBaseline = result.run.exited && result.run.status == 0 && !result.run.timedOut &&
                           evidence.transcriptProblems.empty();
    if (bBaseline) m_wholeJobs.push_back(baseline);
    if (n == 0) m_baselines.whole = bBaseline ? &m_wholeJobs.back() : nullptr;
    if (n == 1) m_baselines.wholeWithoutClient = bBaseline ? &m_wholeJobs.back() : nullptr;
    LetGo(result, evidence);
    if (n == 0 && !bBaseline) break;  // nothing can be checked against it
  }
  m_nWholeJobs = m_results.size();  // those run
  return true;
}

int CheckRun::Run() {
  m_baselines = CommandLines(m_options);
  std::vector<Scenario> named = MakeWholeJobs(m_baselines);
  for (Scenario& scenario : MakeScenarios(m_baselines))
    named.push_back(std::move(scenario));
  std::string why;
  if (!m_options.expect.empty()) {
    std::optional<std::vector<Expectation>> read = LoadExpectations(m_options.expect, why);
    if (!read) return CannotRun(why);
    m_expectations = std::move(*read);
  }
  if (why = UnmatchedOnly(m_options.only, named); !why.empty()) return CannotRun(why);
  for (const std::string& warning : UnmatchedExpectations(m_options.expect, m_expectations, named))
    Warn(warning);
  if (m_options.list) {
    return List(m_options, m_options.agent.empty() ? "AGENT" : m_options.agent, named);
  }

  // The reports' paths are opened before anything runs: one that cannot
  // take its report stops the check now, not after the whole run.
  for (const auto& [option, path, report] : {std::tuple("--json", &m_options.json, &m_json),
                                             std::tuple("--junit", &m_options.junit, &m_junit)}) {
    if (path->empty()) continue;
    std::optional<ReportFile> opened = ReportFile::Open(option, *path, why);
    if (!opened) return CannotRun(why);
    report->emplace(std::move(*opened));
  }
  m_program = FindProgram(m_options.agent, why);
  if (m_program.empty()) return CannotRun(why);
  m_isolation = FindIsolation(m_options.sandbox, why);
  if (!m_isolation) return CannotRun(why);
  if (!m_options.keep.empty()) {
    if (const std::string whyNot = PrepareKeptFolder(m_options.keep); !whyNot.empty()) {
      return CannotRun(whyNot);
    }
  }
  std::optional<BaseFolder> base = m_options.keep.empty() ? BaseFolder::MakeTemporary(why)
                                                          : BaseFolder::Keep(m_options.keep, why);
  if (!base) return CannotRun(why);
  m_base.emplace(std::move(*base));

  const auto start = std::chrono::steady_clock::now();
  // Every result is made before any is printed or run: the printer and the
  // workers hold on to them.
  m_wholeJobs.reserve(2);
  if (!RunWholeJobs(why)) return Stopped() ? kExitCannotRun : CannotRun(why);
  const std::string unreached = m_baselines.whole == nullptr ? "the whole job failed" : "";
  for (Scenario& scenario : MakeScenarios(m_baselines)) {
    if (!m_options.only.empty() && !MatchesAny(m_options.only, scenario.name)) continue;
    if (!unreached.empty()) scenario.notReached = unreached;
    m_results.emplace_back().scenario = std::move(scenario);
  }
  // With a report on stdout the table goes to stderr, so that stdout holds
  // the report alone.
  std::FILE* const out = m_options.ReportsToStdout() ? stderr : stdout;
  const bool bTerminal = ::isatty(::fileno(out)) != 0 && std::getenv("NO_COLOR") == nullptr;
  TablePrinter printer(m_results, out, bTerminal);
  printer.Heading(m_program, m_baselines.args, *m_isolation);
  printer.Done(0, m_nWholeJobs);
  {
    WorkerPool pool(m_results.size() - m_nWholeJobs, m_options.jobs, [&](std::size_t i) {
      const std::size_t n = m_nWholeJobs + i;
      ScenarioResult& result = m_results[n];
      if (!result.scenario.notReached.empty()) {
        result.judgement = Judgement{Verdict::NotReached, result.scenario.notReached, true, false};
        return;
      }
      const WholeJob& baseline = m_baselines.argsWithoutClient == result.scenario.args &&
                                         m_baselines.wholeWithoutClient != nullptr
                                     ? *m_baselines.wholeWithoutClient
                                     : *m_baselines.whole;
      if (!RunAndJudge(result, n, baseline)) {
        result.judgement =
            !Stopped() ? Judgement{Verdict::Error, result.run.startError, false, false}
                       : Judgement{Verdict::NotReached, "the check was stopped", true, false};
      }
    });
    printer.InOrder(pool, m_nWholeJobs);
  }
  if (Stopped()) return kExitCannotRun;
  return Finish(start, out);
}

int CheckRun::Finish(std::chrono::steady_clock::time_point start, std::FILE* out) {
  const Check check{
      UMX_VERSION,
      m_program,
      m_baselines.args,
      m_options.timeLimit,
      m_options.jobs,
      m_isolation->Name(),
      m_options.keep.empty() ? std::string() : m_base->Path(),
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
  const Counts counts = Count(m_results);
  std::fprintf(out, "%s: %s", kProgram, SummaryLine(counts, check.seconds).c_str());
  const bool bStrictFails = m_options.strict && counts.notReached != 0;
  if (bStrictFails) {
    std::fprintf(out, "%s: --strict: %d scenarios not reached\n", kProgram, counts.notReached);
  }
  std::string why;
  if (m_json && !m_json->Write(JsonReport(check, m_results), why)) return CannotRun(why);
  if (m_junit && !m_junit->Write(JunitReport(check, m_results), why)) return CannotRun(why);
  if (!m_options.keep.empty()) {
    std::fprintf(out, "%s: outputs kept in %s\n", kProgram, EscapeText(m_base->Path()).c_str());
  } else if (const std::string left = m_base->Remove(); !left.empty()) {
    Warn("could not remove all the check's files: " + EscapeText(left));
  }
  if (counts.errors != 0) return kExitCannotRun;
  return counts.failed == 0 && !bStrictFails ? kExitPassed : kExitFailed;
}

}  // namespace

int CannotRun(const std::string& why) {
  const std::vector<std::string_view> lines = Lines(why);
  std::string shown;
  for (std::size_t n = 0; n < lines.size(); ++n)
    shown.append(n == 0 ? "" : "\n").append(EscapeText(lines[n]));
  std::fprintf(stderr, "%s: %s\n", kProgram, shown.c_str());
  return kExitCannotRun;
}

int RunCheck(const Options& options, const std::atomic<int>& stopSignal, int nStopFd) {
  return CheckRun(options, stopSignal, nStopFd).Run();
}

}  // namespace AgentCheck
