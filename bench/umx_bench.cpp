// What the library costs beside the primitives it is built from. Each case
// runs next to its baseline in the same run, and the program ends with the
// ratio of each pair and the limit it is held to.

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "FnvCollidingNames.h"
#include "JobUtils.h"
#include "LocalCommandLine.h"
#include "fx/FXMutex.h"
#include "fx/auto_lock.h"

namespace {

// ---------------------------------------------------------------- locking

class RecursivePthreadMutex {
 public:
  RecursivePthreadMutex() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mutex_, &attributes);
    pthread_mutexattr_destroy(&attributes);
  }
  ~RecursivePthreadMutex() { pthread_mutex_destroy(&mutex_); }
  void Lock() { pthread_mutex_lock(&mutex_); }
  void Unlock() { pthread_mutex_unlock(&mutex_); }

 private:
  pthread_mutex_t mutex_;
};

void BM_Baseline_PthreadRecursiveLockUnlock(benchmark::State& state) {
  RecursivePthreadMutex mutex;
  for (auto _ : state) {
    mutex.Lock();
    benchmark::ClobberMemory();
    mutex.Unlock();
  }
}
BENCHMARK(BM_Baseline_PthreadRecursiveLockUnlock);

void BM_AutoLockFXMutex(benchmark::State& state) {
  FXMutex mutex;
  for (auto _ : state) {
    auto_lock lock(&mutex);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_AutoLockFXMutex);

// ---------------------------------------------------------------- singleton

struct Payload {
  int value = 0;
};

RecursivePthreadMutex g_baselineMutex;
boost::shared_ptr<Payload> g_baselineHandle(new Payload);

void BM_Baseline_LockCopySharedPtrUnlock(benchmark::State& state) {
  for (auto _ : state) {
    g_baselineMutex.Lock();
    boost::shared_ptr<Payload> copy = g_baselineHandle;
    g_baselineMutex.Unlock();
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_Baseline_LockCopySharedPtrUnlock);

void BM_BackupJobClientInstance(benchmark::State& state) {
  for (auto _ : state) {
    CBackupJobClientPtr client = CBackupJobClient::instance();
    benchmark::DoNotOptimize(client);
  }
}
BENCHMARK(BM_BackupJobClientInstance);
// The contended pairs run after both uncontended ones, so that neither of
// those runs in the wake of a two-thread run.
BENCHMARK(BM_Baseline_LockCopySharedPtrUnlock)->Threads(2);
BENCHMARK(BM_BackupJobClientInstance)->Threads(2);

// ---------------------------------------------------------------- display

struct StatusName {
  unsigned int value;
  const char* name;
};

const StatusName kStatusNames[] = {
    {0, "JOBSTATUS_ERROR"},
    {1, "JMSUCCESS"},
    {2, "FAIL"},
    {3, "PARTIALSUCCESS"},
    {4, "KILLED"},
    {5, "STSTOPPED"},
    {6, "STINTERRUPTED"},
    {7, "JMANYSTATUS"},
    {8, "STSKIPPED"},
    {9, "DROPPED"},
    {10, "INSYNC"},
    {11, "OUTOFSYNC"},
    {12, "NOTATTEMPTED"},
    {13, "RKJOBSTATUS_STARTED"},
};

// Inlined into its benchmark loop, as the compiler does with a scan of a
// table it can see.
__attribute__((always_inline)) inline std::string HandWrittenStatusName(unsigned int value) {
  for (const StatusName& row : kStatusNames) {
    if (row.value == value) return row.name;
  }
  return std::to_string(value);
}

void BM_Baseline_StatusTableScan(benchmark::State& state) {
  unsigned int value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(HandWrittenStatusName(value));
    value = (value + 1) % 14;
  }
}
BENCHMARK(BM_Baseline_StatusTableScan);

// The same scan behind a call, as a library function is: the compiler cannot
// turn it into code inside the benchmark loop.
__attribute__((noinline)) std::string HandWrittenStatusNameCall(unsigned int value) {
  return HandWrittenStatusName(value);
}

void BM_Baseline_StatusTableScanCall(benchmark::State& state) {
  unsigned int value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(HandWrittenStatusNameCall(value));
    value = (value + 1) % 14;
  }
}
BENCHMARK(BM_Baseline_StatusTableScanCall);

void BM_EJobStatusAsString(benchmark::State& state) {
  unsigned int value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(EJobStatus::AsString(value));
    value = (value + 1) % 14;
  }
}
BENCHMARK(BM_EJobStatusAsString);

const unsigned int kModeWithTwoReasons = BScanModeReason::MODE_CJ |
                                         BScanModeReason::REASON_UNC_PATH |
                                         BScanModeReason::REASON_CJ_NOT_SUPPORTED;

std::string HandWrittenModeReasons(unsigned int value) {
  static const StatusName kBits[] = {
      {0x1, "MODE_CLASSIC"},
      {0x2, "MODE_CJ"},
      {0x3, "MODE_MIXED"},
      {0x100, "REASON_UNC_PATH"},
      {0x200, "REASON_CJ_NOT_SUPPORTED"},
      {0x400, "REASON_MOUNT_POINT"},
      {0x800, "REASON_FS_MIGRATOR"},
  };
  std::string text;
  const unsigned int mode = value & 0x3;
  for (const StatusName& bit : kBits) {
    const bool isMode = bit.value <= 0x3;
    if (isMode ? bit.value != mode : (value & bit.value) == 0) continue;
    if (!text.empty()) text += '|';
    text += bit.name;
  }
  return text;
}

void BM_Baseline_ModeReasonLoop(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(HandWrittenModeReasons(kModeWithTwoReasons));
}
BENCHMARK(BM_Baseline_ModeReasonLoop);

void BM_BScanModeReasonAsString(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(BScanModeReason::AsString(kModeWithTwoReasons));
}
BENCHMARK(BM_BScanModeReasonAsString);

// ---------------------------------------------------------------- arguments

// "agent -<name> value<i>..." for each name, then "-j 1234567": the job id
// last, where a probe chain through the names ends.
std::vector<std::string> CommandLine(const std::vector<std::string>& names) {
  std::vector<std::string> tokens = {"agent"};
  for (size_t i = 0; i < names.size(); ++i) {
    tokens.push_back("-" + names[i]);
    tokens.push_back("value" + std::to_string(i));
  }
  tokens.push_back("-j");
  tokens.push_back("1234567");
  return tokens;
}

// "opt1", "opt2", ...: names as an ordinary command line has them.
std::vector<std::string> OrdinaryNames(size_t count) {
  std::vector<std::string> names;
  for (size_t i = 1; i <= count; ++i)
    names.push_back("opt" + std::to_string(i));
  return names;
}

// A command line with `count` options, the job id among them.
std::vector<std::string> CommandLine(int count) {
  return CommandLine(OrdinaryNames(static_cast<size_t>(count - 1)));
}

std::vector<const char*> Argv(const std::vector<std::string>& tokens) {
  std::vector<const char*> argv;
  for (const std::string& token : tokens)
    argv.push_back(token.c_str());
  return argv;
}

void BM_Baseline_MapLookupStrtollPrintf(benchmark::State& state) {
  std::map<std::string, std::string> options;
  std::vector<std::string> tokens = CommandLine(static_cast<int>(state.range(0)));
  for (size_t i = 1; i + 1 < tokens.size(); i += 2)
    options[tokens[i].substr(1)] = tokens[i + 1];
  for (auto _ : state) {
    auto found = options.find("j");
    long long jobId = std::strtoll(found->second.c_str(), nullptr, 0);
    std::printf("JobId=%lld\n", jobId);
  }
}
BENCHMARK(BM_Baseline_MapLookupStrtollPrintf)->Arg(10)->Arg(1000);

void GetJobIdFrom(benchmark::State& state, const std::vector<std::string>& tokens) {
  std::vector<const char*> argv = Argv(tokens);
  CCommandLineArgumentsPtr args(
      new CLocalCommandLineArguments(static_cast<int>(argv.size()), argv.data()));
  for (auto _ : state) {
    LONGLONG jobId = 0;
    benchmark::DoNotOptimize(CArguments::GetJobId(args, jobId));
  }
}

void BM_GetJobId(benchmark::State& state) {
  GetJobIdFrom(state, CommandLine(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_GetJobId)->Arg(10)->Arg(1000)->Arg(100000);

constexpr size_t kFloodCount = 40000;

// The job id after names that all share one probe chain under unkeyed FNV-1a.
void BM_GetJobIdAfterFnvCollidingNames(benchmark::State& state) {
  GetJobIdFrom(state, CommandLine(FnvCollidingNames(kFloodCount)));
}
BENCHMARK(BM_GetJobIdAfterFnvCollidingNames);

void ParseCommandLine(benchmark::State& state, const std::vector<std::string>& names) {
  const std::vector<std::string> tokens = CommandLine(names);
  const std::vector<const char*> argv = Argv(tokens);
  for (auto _ : state) {
    CLocalCommandLineArguments args(static_cast<int>(argv.size()), argv.data());
    benchmark::DoNotOptimize(args);
  }
}

void BM_Baseline_ParseOrdinaryNames(benchmark::State& state) {
  ParseCommandLine(state, OrdinaryNames(kFloodCount));
}
BENCHMARK(BM_Baseline_ParseOrdinaryNames)->Unit(benchmark::kMillisecond);

void BM_ParseFnvCollidingNames(benchmark::State& state) {
  ParseCommandLine(state, FnvCollidingNames(kFloodCount));
}
BENCHMARK(BM_ParseFnvCollidingNames)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- paths

void BM_Baseline_SnprintfPathWithBuffers(benchmark::State& state) {
  std::string directory;
  (void)CXJob::GetFileSystemResultPathForJob("bench", 0, directory);
  directory.resize(directory.size() - std::string("/RK_JobResults/2/0/0").size());
  for (auto _ : state) {
    std::unique_ptr<char[]> first(new char[2048]);
    std::unique_ptr<char[]> second(new char[2048]);
    std::unique_ptr<char[]> third(new char[2048]);
    std::snprintf(first.get(), 2048, "%s", directory.c_str());
    benchmark::DoNotOptimize(second.get());
    benchmark::DoNotOptimize(third.get());
    char path[2048];
    std::snprintf(path, sizeof path, "%s/RK_JobResults/%u/0/%lld", first.get(), 2u, 1234567LL);
    std::string result(path);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_Baseline_SnprintfPathWithBuffers);

void BM_GetFileSystemResultPathForJob(benchmark::State& state) {
  for (auto _ : state) {
    std::string path;
    benchmark::DoNotOptimize(CXJob::GetFileSystemResultPathForJob("bench", 1234567, path));
    benchmark::DoNotOptimize(path);
  }
}
BENCHMARK(BM_GetFileSystemResultPathForJob);

// ---------------------------------------------------------------- ratios

struct Ratio {
  const char* measured;
  const char* baseline;
  double limit;
};

const Ratio kRatios[] = {
    {"BM_AutoLockFXMutex", "BM_Baseline_PthreadRecursiveLockUnlock", 1.5},
    {"BM_BackupJobClientInstance", "BM_Baseline_LockCopySharedPtrUnlock", 1.3},
    {"BM_BackupJobClientInstance/threads:2", "BM_Baseline_LockCopySharedPtrUnlock/threads:2", 1.3},
    {"BM_EJobStatusAsString", "BM_Baseline_StatusTableScan", 1.5},
    {"BM_EJobStatusAsString", "BM_Baseline_StatusTableScanCall", 1.5},
    {"BM_BScanModeReasonAsString", "BM_Baseline_ModeReasonLoop", 2.0},
    {"BM_GetJobId/10", "BM_Baseline_MapLookupStrtollPrintf/10", 1.5},
    {"BM_GetJobId/1000", "BM_Baseline_MapLookupStrtollPrintf/1000", 1.5},
    {"BM_GetJobId/1000", "BM_GetJobId/10", 1.5},
    {"BM_GetJobId/100000", "BM_GetJobId/10", 1.3},
    {"BM_GetJobIdAfterFnvCollidingNames", "BM_GetJobId/10", 1.3},
    {"BM_ParseFnvCollidingNames", "BM_Baseline_ParseOrdinaryNames", 2.0},
    {"BM_GetFileSystemResultPathForJob", "BM_Baseline_SnprintfPathWithBuffers", 2.0},
};

// Keeps each run's CPU time per iteration while the console reporter prints.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the case; without, the one run.
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times_[run.run_name.str()] = run.GetAdjustedCPUTime();
      } else if (run.run_type == Run::RT_Iteration && run.iterations > 0 && run.repetitions <= 1) {
        times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  int PrintRatios(std::FILE* out) const {
    int missed = 0;
    std::fprintf(out, "\n%-40s %-44s %7s %6s\n", "case", "baseline", "ratio", "limit");
    for (const Ratio& ratio : kRatios) {
      auto measured = times_.find(ratio.measured);
      auto baseline = times_.find(ratio.baseline);
      if (measured == times_.end() || baseline == times_.end() || baseline->second <= 0) continue;
      const double value = measured->second / baseline->second;
      const bool met = value <= ratio.limit;
      missed += met ? 0 : 1;
      std::fprintf(out, "%-40s %-44s %7.2f %6.2f %s\n", ratio.measured, ratio.baseline, value,
                   ratio.limit, met ? "ok" : "MISSED");
    }
    return missed;
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  // The trace lines of the argument accessors and the baseline's printf go
  // to /dev/null; the report goes to standard error.
  int report = dup(fileno(stdout));
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  std::FILE* out = fdopen(report, "w");

  (void)CXJob::SetFocusClientName("bench");
  if (!CBackupJobClient::createInstance("bench", 1, 0, RKS_PLATFORM_LINUX, false, "")) {
    std::fprintf(stderr, "the backup job client could not be created\n");
    return 1;
  }

  // Five repetitions and their median, unless told otherwise: one short run
  // on a shared machine is too noisy to hold a ratio to.
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=5";
  char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  args.insert(args.begin() + 1, {repetitions, aggregatesOnly});
  int nArgs = static_cast<int>(args.size());
  benchmark::Initialize(&nArgs, args.data());
  RecordingReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const int missed = reporter.PrintRatios(out);
  std::fclose(out);
  benchmark::Shutdown();
  return missed == 0 ? 0 : 2;
}
