// An agent broken in one way, chosen when it is built (UMX_BROKEN_WAY), for
// the agent check's test: otherwise it does a whole job, reporting its
// failures on stderr. The ways:
//   crash            aborts when the job results directory lookup fails
//   hang             waits forever when the central server lookup fails
//   success-on-init  goes on, and exits 0, when the platform refuses init
//   silent           fails without a word
//   partial          writes its summary before the central server lookup,
//                    and leaves it when that lookup fails
//   ignore-term      ignores SIGTERM
//   trace            prints a trace line of its own, not in the library's form
// and hostile ways, each acted on when the central server lookup fails
// (else the whole job is done as above):
//   setsid-child     leaves a child that has left for a session of its own
//   group-child      leaves a child in its own process group
//   kill-keeper      kills the process that started it, and leaves a child
//   process-chain    leaves a chain of 200 processes, still growing as it ends
//   fifo-outputs     puts FIFOs where its stdout, stderr and transcript were
//   cut-transcript   ends its transcript in the middle of a record, exits 0
//   huge-line        writes 64 MiB to its transcript without a line end
//   deep-tree        leaves a file 2,000 folders deep under the root
//   pause            tries to join the check's process group, then waits
//   raw-trace        prints its client name raw, as a trace line (always)
//   no-results       does the whole job but writes no summary (always)
//   segv-on-term     dies of SIGSEGV when sent SIGTERM
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>

#include <boost/make_shared.hpp>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"
#include "LocalCommandLine.h"
#include "StreamLogWriter.h"

namespace {

bool Is(const char* pszWay) { return std::strcmp(UMX_BROKEN_WAY, pszWay) == 0; }

int Fail(const std::string& strWhat) {
  if (!Is("silent")) std::fprintf(stderr, "broken agent: %s\n", strWhat.c_str());
  return 1;
}

void MakeFolders(const std::string& strPath) {
  for (std::size_t nSlash = strPath.find('/', 1); nSlash != std::string::npos;
       nSlash = strPath.find('/', nSlash + 1)) {
    ::mkdir(strPath.substr(0, nSlash).c_str(), 0700);
  }
  ::mkdir(strPath.c_str(), 0700);
}

// A child that sleeps long past any time limit, named so that a test can
// look for it; it returns once the child runs sleep.
void LeaveChild(bool bOwnSession) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  if (::fork() == 0) {
    if (bOwnSession) ::setsid();
    ::execlp("sleep", "sleep", "1001", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  char c = 0;
  (void)!::read(fds[0], &c, 1);  // end of file: the exec closed the other end
  ::close(fds[0]);
}

void ReplaceWithFifo(const std::string& strPath) {
  if (::unlink(strPath.c_str()) == 0) ::mkfifo(strPath.c_str(), 0600);
}

std::string OwnPath(int fd) {
  char szPath[4096] = {};
  const std::string strLink = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t nLength = ::readlink(strLink.c_str(), szPath, sizeof szPath - 1);
  return nLength > 0 ? std::string(szPath, static_cast<std::size_t>(nLength)) : std::string();
}

void ActHostile() {
  const char* pszTranscript = std::getenv("RK_LOCAL_PLATFORM_TRANSCRIPT");
  const std::string strTranscript = pszTranscript != nullptr ? pszTranscript : "";
  if (Is("setsid-child") || Is("group-child")) LeaveChild(Is("setsid-child"));
  if (Is("process-chain") && ::fork() == 0) {
    for (int n = 0; n < 200; ++n) {
      if (::fork() != 0) break;
    }
    ::execlp("sleep", "sleep", "1001", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (Is("kill-keeper")) {
    LeaveChild(true);
    ::kill(::getppid(), SIGKILL);
  }
  if (Is("fifo-outputs")) {
    ReplaceWithFifo(OwnPath(1));
    ReplaceWithFifo(OwnPath(2));
    ReplaceWithFifo(strTranscript);
  }
  if (Is("cut-transcript")) {
    std::ofstream(strTranscript, std::ios::app)
        << R"({"seq":99,"call":"getZentServerHostName","sta)";
    std::exit(0);
  }
  if (Is("huge-line")) {
    std::ofstream transcript(strTranscript, std::ios::app);
    const std::string strChunk(1 << 20, 'x');
    for (int n = 0; n < 64; ++n)
      transcript << strChunk;
  }
  if (Is("deep-tree")) {
    const char* pszRoot = std::getenv("RK_LOCAL_PLATFORM_ROOT");
    int fd = ::open(pszRoot != nullptr ? pszRoot : ".", O_RDONLY | O_DIRECTORY);
    for (int n = 0; n < 2000 && fd >= 0; ++n) {
      ::mkdirat(fd, "d", 0700);
      const int below = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
      ::close(fd);
      fd = below;
    }
    if (fd >= 0) ::close(::openat(fd, "deep-partial-result", O_WRONLY | O_CREAT, 0600));
  }
  if (Is("pause")) {
    (void)::setpgid(0, ::getpgid(::getppid()));
    for (;;)
      ::pause();
  }
}

int RunJob(int argc, char** argv) {
  const CCommandLineArgumentsPtr pArgs = boost::make_shared<CLocalCommandLineArguments>(argc, argv);
  LONGLONG nJobId = 0;
  std::string strClient;
  std::string strToken;
  std::string strJobId;
  if (pArgs->GetOption("j", strJobId).IsError() || strJobId.empty() ||
      strJobId.find_first_not_of("0123456789") != std::string::npos) {
    return Fail("the job id is not a number");
  }
  if (CArguments::GetJobId(pArgs, nJobId).IsError()) return Fail("no job id");
  if (CArguments::GetClientName(pArgs, strClient).IsError()) return Fail("no client");
  if (CArguments::GetJobManagerToken(pArgs, strToken).IsError()) return Fail("no token");
  if (Is("trace")) std::printf("JobId: %lld\n", nJobId);

  CBackupJobClientPtr pClient = CBackupJobClient::createInstance(
      strClient.c_str(), nJobId, 0, RKS_PLATFORM_LINUX, false, strToken.c_str());
  if (!pClient && !Is("success-on-init")) return Fail("the platform refused init");
  (void)CXJob::SetFocusClientName(strClient);

  std::string strPath;
  std::string strServer;
  const auto findServer = [&strServer] {
    if (!CXJob::GetServerName(strServer).IsError()) return true;
    while (Is("hang"))
      ::pause();
    return false;
  };
  if (Is("raw-trace")) std::printf("ClientName=%s\n", strClient.c_str());
  if (!Is("partial") && !findServer()) {
    ActHostile();
    return Fail("no central server");
  }
  if (CXJob::GetFileSystemResultPathForJob(strClient, nJobId, strPath).IsError()) {
    if (Is("crash")) std::abort();
    return Fail("no job results directory");
  }
  MakeFolders(strPath);
  if (Is("no-results")) return 0;
  std::ofstream summary(strPath + "/job-summary.txt");
  summary << "FilesInBackup=0\n" << std::flush;
  if (Is("partial") && !findServer()) return Fail("no central server");
  summary << "JobComplete=JMSUCCESS\n";
  return summary.flush() ? 0 : Fail("cannot write the summary");
}

}  // namespace

int main(int argc, char** argv) {
  if (!Is("silent")) g_ptrLogWriter = boost::make_shared<CStreamLogWriter>(stderr, 1);
  if (Is("ignore-term")) std::signal(SIGTERM, SIG_IGN);
  if (Is("segv-on-term")) std::signal(SIGTERM, [](int) { std::raise(SIGSEGV); });
  try {
    return RunJob(argc, argv);
  } catch (const std::exception& exception) {
    return Fail(exception.what());
  }
}
