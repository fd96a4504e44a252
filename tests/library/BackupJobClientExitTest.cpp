// The process ends cleanly while its own threads still ask for the backup
// job client. Each case runs umx-exit-race many times over: the race that
// these guard against ends one run in tens.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;  // NOLINT: the test's environment, handed on to each run

namespace {

constexpr int kRuns = 100;

struct Race {
  int nThreads;
  const char* pszCall;  // instance, create or lock
  const char* pszEnd;   // return or exit
};

void PrintTo(const Race& r, std::ostream* os) {
  *os << r.nThreads << "Threads_" << r.pszCall << "_" << r.pszEnd;
}

// How one run ended: "exit 0" for a clean end.
std::string RunOnce(const Race& r) {
  const std::string strThreads = std::to_string(r.nThreads);
  std::vector<char*> argv = {const_cast<char*>(UMX_EXIT_RACE_PROGRAM),
                             const_cast<char*>(strThreads.c_str()), const_cast<char*>(r.pszCall),
                             const_cast<char*>(r.pszEnd), nullptr};
  pid_t pid = 0;
  const int nError = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (nError != 0) return "cannot start it: error " + std::to_string(nError);
  int nStatus = 0;
  if (waitpid(pid, &nStatus, 0) != pid) return "lost it";
  if (WIFSIGNALED(nStatus)) return "signal " + std::to_string(WTERMSIG(nStatus));
  return "exit " + std::to_string(WEXITSTATUS(nStatus));
}

class BackupJobClientExit : public testing::TestWithParam<Race> {};

TEST_P(BackupJobClientExit, EndsCleanlyWhileThreadsAskForTheClient) {
  // ThreadSanitizer would wait a second at each exit with threads running.
  const char* pszTsanOptions = std::getenv("TSAN_OPTIONS");
  const std::string strTsanOptions =
      std::string(pszTsanOptions != nullptr ? pszTsanOptions : "") + " atexit_sleep_ms=0";
  ASSERT_EQ(setenv("TSAN_OPTIONS", strTsanOptions.c_str(), 1), 0);
  for (int i = 0; i < kRuns; ++i) {
    const std::string strEnd = RunOnce(GetParam());
    ASSERT_EQ(strEnd, "exit 0") << "run " << i + 1 << " of " << kRuns;
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, BackupJobClientExit,
                         testing::Values(Race{0, "instance", "return"}, Race{0, "instance", "exit"},
                                         Race{4, "instance", "return"}, Race{4, "instance", "exit"},
                                         Race{4, "create", "return"}, Race{1, "create", "exit"},
                                         Race{4, "lock", "exit"}),
                         testing::PrintToStringParamName());

}  // namespace
