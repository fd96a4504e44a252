// umx-agent-check: runs an agent binary through a whole job on the local
// platform and through every failure the platform can report, each in a
// fresh root, and gives a verdict for each. The usage text says how.

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "Pipeline.h"
#include "Verdicts.h"

namespace {

using namespace AgentCheck;

constexpr char kProgram[] = "umx-agent-check";

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
    nStatus = RunCheck(*options, g_nStopSignal, stop.ReadEnd());
  }
  const bool bWritten = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (g_nStopSignal != 0) return stopped();
  if (!bWritten) {
    std::fprintf(stderr, "%s: cannot write to stdout\n", kProgram);
    return kExitCannotRun;
  }
  return nStatus;
}
