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
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
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
  if (!Is("partial") && !findServer()) return Fail("no central server");
  if (CXJob::GetFileSystemResultPathForJob(strClient, nJobId, strPath).IsError()) {
    if (Is("crash")) std::abort();
    return Fail("no job results directory");
  }
  MakeFolders(strPath);
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
  try {
    return RunJob(argc, argv);
  } catch (const std::exception& exception) {
    return Fail(exception.what());
  }
}
