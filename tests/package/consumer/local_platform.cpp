// An agent's test against the installed local platform kit: an armed init
// failure reaches the agent as an empty job client handle; then a whole job
// runs on the stand-ins.
#include <cstdio>
#include <string>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"
#include "LocalCommandLine.h"
#include "QiErrorDetail.h"
#include "RkLocalPlatform.h"

namespace {

int Fail(const char* pszWhat, const CQiError& error) {
  std::fprintf(stderr, "%s: %s\n", pszWhat, FXErrorDetail::Format(error).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CCommandLineArgumentsPtr args(new CLocalCommandLineArguments(argc, argv));
  LONGLONG jobId = 0;
  std::string client;
  CQiError error = CArguments::GetJobId(args, jobId);
  if (error.IsError()) return Fail("job id", error);
  error = CArguments::GetClientName(args, client);
  if (error.IsError()) return Fail("client", error);

  RkLocalPlatform::FailInit(5, "down");
  if (CBackupJobClient::createInstance("agent", jobId, 0, RKS_PLATFORM_LINUX, false, "")) {
    std::fprintf(stderr, "createInstance succeeded despite the armed init failure\n");
    return 1;
  }
  RkLocalPlatform::Reset();

  CBackupJobClientPtr jobClient =
      CBackupJobClient::createInstance("agent", jobId, 0, RKS_PLATFORM_LINUX, false, "");
  if (!jobClient) return 1;
  (void)CXJob::SetFocusClientName(client);
  std::string resultsPath;
  error = CXJob::GetFileSystemResultPathForJob(client, jobId, resultsPath);
  if (error.IsError()) return Fail("results path", error);
  std::printf("results=%s\n", resultsPath.c_str());
  return 0;
}
