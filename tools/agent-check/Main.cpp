// umx-agent-check: runs an agent binary through a whole job on the local
// platform and through every failure the platform can report, each in a
// fresh root, and gives a verdict for each. The usage text says how.

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "Escape.h"
#include "Evidence.h"
#include "Pool.h"
#include "Report.h"
#include "Runner.h"
#include "Scenarios.h"
#include "Verdicts.h"

namespace {

using namespace AgentCheck;

constexpr char kProgram[] = "umx-agent-check";
constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitCannotRun = 2;

// The signal that told the check to stop, or 0. Its handler also writes to
// the stop pipe, which wakes every scenario's wait, so that its agent is
// killed; the check then unwinds, removing its folders, and exits 128+N.
// Atomic, as the scenarios' threads read it; lock-free, so the handler may
// set it.
std::atomic<int> g_nStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
int g_nStopPipe = -1;

void RecordStop(int nSignal) {
  const int nErrno = errno;  // the interrupted code may be about to read it
  g_nStopSignal = nSignal;
  const char byte = 0;
  (void)!::write(g_nStopPipe, &byte, 1);
  errno = nErrno;
}

// SIGPIPE among them: a table piped into head must not end the check before
// it has killed its agents; the write that met the closed pipe fails with
// EPIPE and is let go.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// The stop pipe, and the handlers that write to it, for as long as it lives.
class StopPipe {
 public:
  StopPipe() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_nRead = fds[0];
    g_nStopPipe = fds[1];
    struct sigaction stop {};
    stop.sa_handler = RecordStop;
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    for (const int nSignal : kStopSignals)
      ::sigaction(nSignal, &stop, nullptr);
  }
  // Restores the default actions but SIGPIPE's: ignored, so that stdio's
  // last flush at exit cannot end the check by a signal after all.
  ~StopPipe() {
    struct sigaction after {};
    sigemptyset(&after.sa_mask);
    for (const int nSignal : kStopSignals) {
      after.sa_handler = nSignal == SIGPIPE ? SIG_IGN : SIG_DFL;
      ::sigaction(nSignal, &after, nullptr);
    }
    const int nWrite = std::exchange(g_nStopPipe, -1);
    if (nWrite >= 0) ::close(nWrite);
    if (m_nRead >= 0) ::close(m_nRead);
  }
  StopPipe(const StopPipe&) = delete;
  StopPipe& operator=(const StopPipe&) = delete;

  int ReadEnd() const { return m_nRead; }

 private:
  int m_nRead = -1;
};

bool Matches(const std::string& pattern, const std::string& name) {
  return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& name) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&name](const std::string& pattern) { return Matches(pattern, name); });
}

bool NamesAny(const std::string& pattern, const std::vector<Scenario>& scenarios) {
  return std::any_of(scenarios.begin(), scenarios.end(), [&pattern](const Scenario& scenario) {
    return Matches(pattern, scenario.name);
  });
}

// Why a pattern of --only names no scenario; empty when each names one.
std::string UnmatchedOnly(const std::vector<std::string>& only,
                          const std::vector<Scenario>& scenarios) {
  for (const std::string& pattern : only) {
    if (!NamesAny(pattern, scenarios))
      return "--only " + pattern + " names no scenario (see --list)";
  }
  return {};
}

// An expectation that names no scenario draws a warning only: one file may
// serve command lines whose scenarios differ.
void WarnUnmatched(const std::string& file, const std::vector<Expectation>& expectations,
                   const std::vector<Scenario>& scenarios) {
  for (const Expectation& expectation : expectations) {
    if (!NamesAny(expectation.pattern, scenarios)) {
      std::fprintf(stderr, "%s: warning: %s:%d: %s names no scenario\n", kProgram,
                   EscapeText(file).c_str(), expectation.line,
                   EscapeText(expectation.pattern).c_str());
    }
  }
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A folder name for the scenario numbered `n`.
std::string FolderName(std::size_t n, const std::string& name) {
  std::string folder = (n < 10 ? "0" : "") + std::to_string(n) + "-";
  for (const char c : name) {
    folder += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ? c : '_';
  }
  return folder;
}

// Prints the table: its heading, then each scenario's line once it and
// those before it are done, with a progress line on a terminal. It only
// prints; the pool runs.
class Printer {
 public:
  Printer(const std::vector<ScenarioResult>& results, std::FILE* out, bool bTerminal)
      : m_results(results), m_out(out), m_bTerminal(bTerminal) {
    for (const ScenarioResult& result : results)
      m_nNameWidth = std::max(m_nNameWidth, result.scenario.name.size());
  }

  void Heading(const std::string& program, const std::vector<std::string>& args,
               const Isolation& isolation) const {
    std::fprintf(m_out, "%s: %s", kProgram, EscapeText(program).c_str());
    for (const std::string& arg : args)
      std::fprintf(m_out, " %s", EscapeText(arg).c_str());
    if (isolation.sandbox) {
      std::fprintf(m_out, "\n%s: isolation: sandbox", kProgram);
    } else {
      std::fprintf(m_out, "\n%s: isolation: subreaper (no sandbox: %s)", kProgram,
                   EscapeText(isolation.why).c_str());
    }
    std::fprintf(m_out, "\n%s", TableHeading(m_nNameWidth).c_str());
  }

  void InOrder(WorkerPool& pool) const {
    for (std::size_t n = 0; n < m_results.size(); ++n) {
      pool.WaitFor(n);
      if (m_bTerminal) std::fputs("\r\033[K", m_out);
      std::fputs(TableLine(m_results[n], m_nNameWidth, m_bTerminal).c_str(), m_out);
      if (m_bTerminal && n + 1 < m_results.size()) {
        std::fprintf(m_out, "%s: %zu of %zu done, running %s ...", kProgram, pool.DoneCount(),
                     m_results.size(), EscapeText(m_results[n + 1].scenario.name).c_str());
      }
      std::fflush(m_out);
    }
  }

 private:
  const std::vector<ScenarioResult>& m_results;
  std::FILE* m_out;
  bool m_bTerminal;
  std::size_t m_nNameWidth = 8;
};

// The reason on stderr, each line escaped: it holds texts of the agent's.
int CannotRun(const std::string& why) {
  const std::vector<std::string_view> lines = Lines(why);
  std::string shown;
  for (std::size_t n = 0; n < lines.size(); ++n)
    shown.append(n == 0 ? "" : "\n").append(EscapeText(lines[n]));
  std::fprintf(stderr, "%s: %s\n", kProgram, shown.c_str());
  return kExitCannotRun;
}

// Lists the scenarios of `args` that --only leaves, running nothing.
int List(const Options& options, const std::vector<Scenario>& named) {
  for (const Scenario& scenario : named) {
    if (options.only.empty() || scenario.kind == Kind::WholeJob ||
        MatchesAny(options.only, scenario.name)) {
      std::printf("%-32s %s\n", EscapeText(scenario.name).c_str(),
                  EscapeText(scenario.description).c_str());
    }
  }
  return kExitPassed;
}

// Runs the check; once a stop signal came, what it returns does not count.
int Run(const Options& options, int nStopFd) {
  const std::vector<std::string> args = options.args.empty() ? DefaultCommandLine() : options.args;
  const std::vector<Scenario> named = MakeScenarios(args, nullptr);
  std::vector<Expectation> expectations;
  if (!options.expect.empty()) {
    const std::optional<std::string> text = ReadFile(options.expect);
    if (!text) return CannotRun("cannot read " + options.expect + ": " + std::strerror(errno));
    std::string why;
    std::optional<std::vector<Expectation>> read = ReadExpectations(*text, options.expect, why);
    if (!read) return CannotRun(why);
    expectations = std::move(*read);
  }
  if (const std::string why = UnmatchedOnly(options.only, named); !why.empty()) {
    return CannotRun(why);
  }
  WarnUnmatched(options.expect, expectations, named);
  if (options.list) return List(options, named);

  // The reports' paths are opened before anything runs: one that cannot
  // take its report stops the check now, not after the whole run.
  std::string why;
  std::optional<ReportFile> json =
      options.json.empty() ? std::nullopt : ReportFile::Open("--json", options.json, why);
  if (!options.json.empty() && !json) return CannotRun(why);
  std::optional<ReportFile> junit =
      options.junit.empty() ? std::nullopt : ReportFile::Open("--junit", options.junit, why);
  if (!options.junit.empty() && !junit) return CannotRun(why);
  const std::string program = FindProgram(options.agent, why);
  if (program.empty()) return CannotRun(why);
  const std::optional<Isolation> isolation = FindIsolation(options.sandbox, why);
  if (!isolation) return CannotRun(why);
  if (!options.keep.empty()) {
    if (const std::string whyNot = PrepareKeptFolder(options.keep); !whyNot.empty()) {
      return CannotRun(whyNot);
    }
  }
  std::optional<BaseFolder> base =
      options.keep.empty() ? BaseFolder::MakeTemporary(why) : BaseFolder::Keep(options.keep, why);
  if (!base) return CannotRun(why);

  const auto start = std::chrono::steady_clock::now();
  // Runs a scenario, gathers its evidence and judges it; false when it did
  // not run. What judging needed of the run is let go then, so that the
  // check's memory does not grow with the scenarios.
  const auto runScenario = [&](ScenarioResult& result, std::size_t n) {
    if (g_nStopSignal != 0) return false;
    std::string whyNot;
    const std::optional<ScenarioFolder> folder =
        MakeScenarioFolder(*base, FolderName(n, result.scenario.name), whyNot);
    if (!folder) {
      result.run.startError = whyNot;
      return false;
    }
    result.run = RunAgent(RunRequest{program, result.scenario.args, result.scenario.faults,
                                     result.scenario.kind == Kind::Cancellation, &*folder,
                                     &*isolation, options.timeLimit, nStopFd},
                          result.evidence);
    result.ran = result.run.startError.empty() && !result.run.stopped;
    return result.ran;
  };
  const auto letGo = [](ScenarioResult& result) {
    std::vector<LeftFile>().swap(result.run.files);
    Evidence kept;
    kept.errTail = std::move(result.evidence.errTail);
    result.evidence = std::move(kept);
  };

  std::vector<ScenarioResult> results(1);
  ScenarioResult& wholeJob = results[0];
  wholeJob.scenario = named.front();
  (void)runScenario(wholeJob, 0);
  if (g_nStopSignal != 0) return kExitCannotRun;
  const RunResult& whole = wholeJob.run;
  if (!wholeJob.ran) return CannotRun(whole.startError);
  if (whole.timedOut || !whole.exited || whole.status != 0) {
    return CannotRun("the whole job failed (" +
                     (whole.timedOut ? "still running when the time limit ended"
                      : whole.exited ? "exit " + std::to_string(whole.status)
                                     : "killed by " + SignalName(whole.signal)) +
                     "), so nothing can be checked against it; its stderr ends:\n" +
                     LastLines(wholeJob.evidence.errTail, 10));
  }
  if (wholeJob.evidence.nRecords == 0 && wholeJob.evidence.transcriptProblems.empty()) {
    return CannotRun("the whole job made no platform call: " + program +
                     " does not run on the local platform");
  }
  const WholeJob baseline = LearnWholeJob(whole, wholeJob.evidence);
  wholeJob.judgement = Judge(wholeJob.scenario, whole, wholeJob.evidence, baseline, expectations);
  // A whole job whose transcript cannot be trusted is no baseline: the
  // other scenarios are not run.
  const bool bBaseline = wholeJob.evidence.transcriptProblems.empty();
  // Let go before the other scenarios are added: adding them moves the
  // whole job's result, and `wholeJob` no longer names it.
  letGo(wholeJob);
  for (Scenario& scenario : MakeScenarios(args, &baseline)) {
    if (scenario.kind == Kind::WholeJob ||
        (!options.only.empty() && !MatchesAny(options.only, scenario.name))) {
      continue;
    }
    if (!bBaseline) scenario.notReached = "the whole job's transcript is malformed";
    results.emplace_back().scenario = std::move(scenario);
  }
  // With a report on stdout the table goes to stderr, so that stdout holds
  // the report alone.
  std::FILE* const out = options.ReportsToStdout() ? stderr : stdout;
  const bool bTerminal = ::isatty(::fileno(out)) != 0 && std::getenv("NO_COLOR") == nullptr;
  const Printer printer(results, out, bTerminal);
  printer.Heading(program, args, *isolation);
  {
    WorkerPool pool(results.size(), options.jobs, [&](std::size_t n) {
      ScenarioResult& result = results[n];
      if (n == 0) return;  // judged already
      if (result.scenario.notReached.empty() && !runScenario(result, n)) {
        result.judgement =
            g_nStopSignal == 0
                ? Judgement{Verdict::Error, result.run.startError, false, false}
                : Judgement{Verdict::NotReached, "the check was stopped", true, false};
        return;
      }
      result.judgement =
          Judge(result.scenario, result.run, result.evidence, baseline, expectations);
      letGo(result);
    });
    printer.InOrder(pool);
  }
  if (g_nStopSignal != 0) return kExitCannotRun;

  Check check{program,
              args,
              options.timeLimit,
              options.jobs,
              isolation->Name(),
              options.keep.empty() ? std::string() : base->Path(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
  const Counts counts = Count(results);
  const std::string tolerated =
      counts.tolerated == 0 ? "" : " (" + std::to_string(counts.tolerated) + " tolerated)";
  std::fprintf(out, "%s: %d passed%s, %d failed, %d not reached in %.1f s\n", kProgram,
               counts.passed, tolerated.c_str(), counts.failed, counts.notReached, check.seconds);
  if (json && !json->Write(JsonReport(check, results), why)) return CannotRun(why);
  if (junit && !junit->Write(JunitReport(check, results), why)) return CannotRun(why);
  if (!options.keep.empty()) {
    std::fprintf(out, "%s: outputs kept in %s\n", kProgram, EscapeText(base->Path()).c_str());
  } else if (const std::string left = base->Remove(); !left.empty()) {
    std::fprintf(stderr, "%s: warning: could not remove all the check's files: %s\n", kProgram,
                 EscapeText(left).c_str());
  }
  if (counts.errors != 0) return kExitCannotRun;
  return counts.failed == 0 ? kExitPassed : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  // No process of the same user may open the check's descriptors (its
  // terminal, its pipes, its reports) through /proc, or trace it.
  (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  // The walk of a deep tree holds a descriptor for each folder it is in.
  if (rlimit files{}; ::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    (void)::setrlimit(RLIMIT_NOFILE, &files);
  }
  // For the whole run: a signal even while the options are read ends the
  // check by its rule.
  const StopPipe stop;
  const auto stopped = [] {
    std::fprintf(stderr, "%s: stopped by %s; no agent it started is left running\n", kProgram,
                 SignalName(g_nStopSignal).c_str());
    return 128 + g_nStopSignal;
  };
  std::string why;
  const std::optional<Options> options =
      ParseOptions(std::vector<std::string>(argv + 1, argv + argc), why);
  int nStatus = kExitPassed;
  if (!options) {
    std::fprintf(stderr, "%s: %s\nRun '%s --help' for the usage.\n", kProgram, why.c_str(),
                 kProgram);
    nStatus = kExitCannotRun;
  } else if (options->help) {
    std::fputs(Usage().c_str(), stdout);
  } else if (options->version) {
    std::printf("%s %s\n", kProgram, UMX_VERSION);
  } else {
    nStatus = Run(*options, stop.ReadEnd());
  }
  const bool bWritten = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (g_nStopSignal != 0) return stopped();
  if (!bWritten) {
    std::fprintf(stderr, "%s: cannot write to stdout\n", kProgram);
    return kExitCannotRun;
  }
  return nStatus;
}
