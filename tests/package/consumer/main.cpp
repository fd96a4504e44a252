// An agent in a few lines, built against the installed package.
#include <cstdio>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"

int main(int argc, char** argv) {
  if (InitializeUMXClientLibrary() != 0) return 1;
  CCommandLineArgumentsPtr args(new CCommandLineArguments(argc, argv));
  LONGLONG jobId = 0;
  CQiError error = CArguments::GetJobId(args, jobId);
  if (error.IsError()) {
    std::fprintf(stderr, "%s\n", error.Format().c_str());
    return 1;
  }
  std::printf("status=%s\n", EJobStatus::AsString(EJobStatus::JMSUCCESS).c_str());
  return jobId == 42 ? 0 : 1;
}
