// umx-agent-check: runs an agent binary through a whole job on the local
// platform and through every failure the platform can report, each in a
// fresh root, and gives a verdict for each. The usage text says how.

#include <fcntl.h>
#include <fnmatch.h>
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
#include <vector>

#include "Escape.h"
#include "Evidence.h"
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

constexpr char kUsage[] =
    "usage: umx-agent-check [options] -- AGENT [AGENT OPTIONS...]\n"
    "\n"
    "Runs AGENT on the local platform as the job manager would: first the whole\n"
    "job, then, each in a fresh platform root and working folder, every failure\n"
    "of a platform call that the whole job made (each way RK_LOCAL_PLATFORM_FAULTS\n"
    "can arm, and a throw), each option it traced left out, a job id and an\n"
    "application id that are not numbers, and SIGTERM while it is inside a\n"
    "platform call. Prints a verdict for each. The agent's options are the job's\n"
    "command line; without them: -j 1234 -a 2:17 -cn localclient\n"
    "-qs zentserver.localdomain -jt token-agent-check -vm vm01 -d storenode01\n"
    "-snapjid 1233.\n"
    "\n"
    "Options:\n"
    "  -j N             run N scenarios at a time (default 2)\n"
    "  --timeout SECS   the time limit of each scenario (default 10)\n"
    "  --json FILE      write the whole report to FILE as JSON\n"
    "  --expect FILE    failures the agent tolerates on purpose, a line each:\n"
    "                   SCENARIO VERDICT [WHY]  (SCENARIO may be a shell pattern)\n"
    "  --only NAME      run only the scenarios NAME matches (a shell pattern;\n"
    "                   may be given more than once); the whole job always runs\n"
    "  --keep DIR       keep each scenario's root and outputs in DIR (new or empty)\n"
    "  --list           name the scenarios, and run nothing\n"
    "  -h, --help       this text\n"
    "\n"
    "Verdicts: passed, not reached (not run: the whole job never got there),\n"
    "crashed, hung, reported success, failed silently, left partial results,\n"
    "malformed trace, not gone; tolerated for a failure the expectations allow.\n"
    "\n"
    "Exit status:\n"
    "  0      every scenario passed (or was not reached)\n"
    "  1      a scenario failed\n"
    "  2      the check could not run: bad options, no such agent, or the whole\n"
    "         job failed\n"
    "  128+N  signal N stopped the check; the agents it started are killed\n";

// The signal that told the check to stop, or 0. Its handler also writes to
// the stop pipe, which wakes every scenario's wait, so that its agent is
// killed.
volatile std::sig_atomic_t g_nStopSignal = 0;
int g_nStopPipe = -1;

void RecordStop(int nSignal) {
  g_nStopSignal = nSignal;
  const char byte = 0;
  (void)!::write(g_nStopPipe, &byte, 1);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

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
    sigemptyset(&stop.sa_mask);
    for (const int nSignal : kStopSignals)
      ::sigaction(nSignal, &stop, nullptr);
  }
  ~StopPipe() {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (const int nSignal : kStopSignals)
      ::sigaction(nSignal, &standard, nullptr);
    if (m_nRead >= 0) ::close(m_nRead);
    if (g_nStopPipe >= 0) ::close(g_nStopPipe);
    g_nStopPipe = -1;
  }
  StopPipe(const StopPipe&) = delete;
  StopPipe& operator=(const StopPipe&) = delete;

  int ReadEnd() const { return m_nRead; }

 private:
  int m_nRead = -1;
};

struct Options {
  int jobs = 2;
  double timeLimit = 10;
  std::string json;
  std::string expect;
  std::string keep;
  std::vector<std::string> only;
  bool list = false;
  bool help = false;
  std::string agent;
  std::vector<std::string> args;  // empty: the default command line
};

std::optional<double> PositiveNumber(const std::string& text) {
  char* pszEnd = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &pszEnd);
  if (text.empty() || *pszEnd != '\0' || errno != 0 || !(value > 0) || value > 86400) {
    return std::nullopt;
  }
  return value;
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& why) {
  Options options;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      return options;
    }
    if (arg == "--list") {
      options.list = true;
      continue;
    }
    if (arg.empty() || arg[0] != '-') break;
    if (i + 1 == argc) {
      why = arg + " needs a value";
      return std::nullopt;
    }
    const std::string value = argv[++i];
    if (arg == "-j") {
      const std::optional<double> jobs = PositiveNumber(value);
      if (!jobs || *jobs != static_cast<int>(*jobs) || *jobs > 64) {
        why = "-j takes a whole number from 1 to 64, not \"" + value + "\"";
        return std::nullopt;
      }
      options.jobs = static_cast<int>(*jobs);
    } else if (arg == "--timeout") {
      const std::optional<double> seconds = PositiveNumber(value);
      if (!seconds) {
        why = "--timeout takes a number of seconds above 0, not \"" + value + "\"";
        return std::nullopt;
      }
      options.timeLimit = *seconds;
    } else if (arg == "--json") {
      options.json = value;
    } else if (arg == "--expect") {
      options.expect = value;
    } else if (arg == "--keep") {
      options.keep = value;
    } else if (arg == "--only") {
      options.only.push_back(value);
    } else {
      why = "unknown option " + arg;
      return std::nullopt;
    }
  }
  if (i == argc) {
    why = "no agent given (umx-agent-check [options] -- AGENT [AGENT OPTIONS...])";
    return std::nullopt;
  }
  options.agent = argv[i];
  options.args.assign(argv + i + 1, argv + argc);
  return options;
}

bool Matches(const std::vector<std::string>& patterns, const std::string& name) {
  return std::any_of(patterns.begin(), patterns.end(), [&name](const std::string& pattern) {
    return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
  });
}

// Why a pattern of --only or of the expectations names no scenario; empty
// when each names one.
std::string UnmatchedPattern(const Options& options, const std::vector<Expectation>& expectations,
                             const std::vector<Scenario>& scenarios) {
  const auto names = [&scenarios](const std::string& pattern) {
    return std::any_of(scenarios.begin(), scenarios.end(), [&pattern](const Scenario& scenario) {
      return ::fnmatch(pattern.c_str(), scenario.name.c_str(), 0) == 0;
    });
  };
  for (const std::string& pattern : options.only) {
    if (!names(pattern)) return "--only " + pattern + " names no scenario (see --list)";
  }
  for (const Expectation& expectation : expectations) {
    if (!names(expectation.pattern)) {
      return options.expect + ":" + std::to_string(expectation.line) + ": " + expectation.pattern +
             " names no scenario (see --list)";
    }
  }
  return {};
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

// Makes `path` a new or empty folder to keep the outputs in; why not, or an
// empty text.
std::string PrepareKeptFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return {};
  std::error_code error;
  if (errno != EEXIST || !std::filesystem::is_directory(path, error)) {
    return "--keep " + path + ": " + (errno == EEXIST ? "not a folder" : std::strerror(errno));
  }
  if (!std::filesystem::is_empty(path, error))
    return "--keep " + path + ": the folder is not empty";
  return {};
}

std::string FirstLines(const std::string& text, int nLines) {
  std::string shown;
  for (const std::string_view line : Lines(text)) {
    if (nLines-- == 0) break;
    shown.append("\n    ").append(line);
  }
  return shown;
}

// Runs the scenarios not yet run, `jobs` at a time, printing each line of
// the table in order once it and those before it are done.
class Table {
 public:
  Table(std::vector<ScenarioResult>& results, bool bTerminal)
      : m_results(results), m_bTerminal(bTerminal), m_done(results.size(), false) {
    for (const ScenarioResult& result : results) {
      m_nNameWidth = std::max(m_nNameWidth, result.scenario.name.size());
    }
  }

  void PrintHeading() const { std::fputs(TableHeading(m_nNameWidth).c_str(), stdout); }

  // Judged already: printed in its turn without running.
  void MarkDone(std::size_t n) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done[n] = true;
  }

  void RunAll(int nJobs, const std::function<void(ScenarioResult&, std::size_t)>& run) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(nJobs));
    for (int i = 0; i < nJobs; ++i) {
      workers.emplace_back([&] {
        for (std::size_t n = next++; n < m_results.size(); n = next++) {
          bool bDone = false;
          {
            std::lock_guard<std::mutex> lock(m_mutex);
            bDone = m_done[n];
          }
          if (!bDone) run(m_results[n], n);
          std::lock_guard<std::mutex> lock(m_mutex);
          m_done[n] = true;
          m_changed.notify_one();
        }
      });
    }
    PrintInOrder();
    for (std::thread& worker : workers)
      worker.join();
  }

 private:
  void PrintInOrder() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (std::size_t nPrinted = 0; nPrinted < m_results.size();) {
      m_changed.wait(lock, [&] { return m_done[nPrinted]; });
      if (m_bTerminal) std::fputs("\r\033[K", stdout);
      while (nPrinted < m_results.size() && m_done[nPrinted]) {
        std::fputs(TableLine(m_results[nPrinted++], m_nNameWidth, m_bTerminal).c_str(), stdout);
      }
      if (m_bTerminal && nPrinted < m_results.size()) {
        const auto nDone = std::count(m_done.begin(), m_done.end(), true);
        std::printf("%s: %zd of %zu done, running %s ...", kProgram, static_cast<ssize_t>(nDone),
                    m_results.size(), m_results[nPrinted].scenario.name.c_str());
      }
      std::fflush(stdout);
    }
  }

  std::vector<ScenarioResult>& m_results;
  bool m_bTerminal;
  std::size_t m_nNameWidth = 8;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<bool> m_done;
};

int CannotRun(const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
  return kExitCannotRun;
}

int Run(const Options& options) {
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
  if (const std::string why = UnmatchedPattern(options, expectations, named); !why.empty()) {
    return CannotRun(why);
  }
  if (options.list) {
    for (const Scenario& scenario : named) {
      if (options.only.empty() || scenario.kind == Kind::WholeJob ||
          Matches(options.only, scenario.name)) {
        std::printf("%-32s %s\n", scenario.name.c_str(), scenario.description.c_str());
      }
    }
    return kExitPassed;
  }

  std::string why;
  const std::string program = FindProgram(options.agent, why);
  if (program.empty()) return CannotRun(why);
  const std::optional<TempFolder> temporary =
      options.keep.empty() ? TempFolder::Make(why) : std::optional<TempFolder>();
  std::string base = options.keep;
  if (base.empty()) {
    if (!temporary) return CannotRun(why);
    base = temporary->Path();
  } else if (const std::string whyNot = PrepareKeptFolder(base); !whyNot.empty()) {
    return CannotRun(whyNot);
  }
  base = std::filesystem::absolute(base).lexically_normal().string();

  const auto start = std::chrono::steady_clock::now();
  const StopPipe stop;
  const auto runScenario = [&](ScenarioResult& result, std::size_t n) {
    if (g_nStopSignal != 0) return;
    const std::string folder = base + "/" + FolderName(n, result.scenario.name);
    ::mkdir(folder.c_str(), 0700);
    result.run = RunAgent(RunRequest{program, result.scenario.args, result.scenario.faults,
                                     result.scenario.kind == Kind::Cancellation, folder,
                                     options.timeLimit, stop.ReadEnd()});
    result.ran = result.run.startError.empty() && !result.run.stopped;
  };
  const auto stopped = [] {
    std::fprintf(stderr, "%s: stopped by %s; the agents it started are gone\n", kProgram,
                 SignalName(g_nStopSignal).c_str());
    return 128 + g_nStopSignal;
  };

  std::vector<ScenarioResult> results(1);
  results[0].scenario = named.front();
  runScenario(results[0], 0);
  if (g_nStopSignal != 0) return stopped();
  const RunResult& whole = results[0].run;
  if (!results[0].ran) return CannotRun(whole.startError);
  if (whole.timedOut || !whole.exited || whole.status != 0) {
    return CannotRun(
        "the whole job failed (" +
        (whole.timedOut ? "still running when the time limit ended"
         : whole.exited ? "exit " + std::to_string(whole.status)
                        : "killed by " + SignalName(whole.signal)) +
        "), so nothing can be checked against it; its stderr:" + FirstLines(whole.err, 10));
  }
  std::vector<std::string> problems;
  const std::vector<CallRecord> records = ReadTranscript(whole.transcript, problems);
  if (!problems.empty()) return CannotRun("the whole job's " + problems.front());
  if (records.empty()) {
    return CannotRun("the whole job made no platform call: " + program +
                     " does not run on the local platform");
  }
  WholeJob learned = LearnWholeJob(records, whole.out, whole.root);
  for (const LeftFile& file : whole.files)
    learned.files.insert(file.path);

  for (Scenario& scenario : MakeScenarios(args, &learned)) {
    if (scenario.kind == Kind::WholeJob ||
        (!options.only.empty() && !Matches(options.only, scenario.name))) {
      continue;
    }
    results.emplace_back().scenario = std::move(scenario);
  }
  const bool bTerminal = ::isatty(STDOUT_FILENO) != 0 && std::getenv("NO_COLOR") == nullptr;
  Table table(results, bTerminal);
  std::printf("%s: %s", kProgram, EscapeText(program).c_str());
  for (const std::string& arg : args)
    std::printf(" %s", EscapeText(arg).c_str());
  std::printf("\n");
  table.PrintHeading();
  for (std::size_t n = 0; n < results.size(); ++n) {
    if (n == 0 || !results[n].scenario.notReached.empty()) {
      results[n].judgement = Judge(results[n].scenario, results[n].run, learned, expectations);
      table.MarkDone(n);
    }
  }
  table.RunAll(options.jobs, [&](ScenarioResult& result, std::size_t n) {
    runScenario(result, n);
    if (result.ran) {
      result.judgement = Judge(result.scenario, result.run, learned, expectations);
    } else if (g_nStopSignal == 0) {
      result.judgement = Judgement{Verdict::Crashed, result.run.startError, false, false};
    } else {
      result.judgement = Judgement{Verdict::NotReached, "the check was stopped", true, false};
    }
  });
  if (g_nStopSignal != 0) return stopped();

  Check check{program,
              args,
              options.timeLimit,
              options.jobs,
              options.keep.empty() ? std::string() : base,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
  const Counts counts = Count(results);
  const std::string tolerated =
      counts.tolerated == 0 ? "" : " (" + std::to_string(counts.tolerated) + " tolerated)";
  std::printf("%s: %d passed%s, %d failed, %d not reached in %.1f s\n", kProgram, counts.passed,
              tolerated.c_str(), counts.failed, counts.notReached, check.seconds);
  if (!options.json.empty()) {
    std::ofstream json(options.json, std::ios::binary | std::ios::trunc);
    json << JsonReport(check, results);
    json.close();
    if (!json) return CannotRun("cannot write " + options.json);
  }
  if (!options.keep.empty()) std::printf("%s: outputs kept in %s\n", kProgram, base.c_str());
  return counts.failed == 0 ? kExitPassed : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::string why;
  const std::optional<Options> options = ParseOptions(argc, argv, why);
  if (!options) {
    std::fprintf(stderr, "%s: %s\nRun '%s --help' for the usage.\n", kProgram, why.c_str(),
                 kProgram);
    return kExitCannotRun;
  }
  if (options->help) {
    std::fputs(kUsage, stdout);
    return kExitPassed;
  }
  const int nStatus = Run(*options);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: cannot write the table to stdout\n", kProgram);
    return kExitCannotRun;
  }
  return nStatus;
}
