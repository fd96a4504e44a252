// A backup agent in miniature: what the job manager starts for a job. It reads
// the job's options from its command line, printing one trace line for each.
//
//   umx-sample-agent -j <job id> -a <cell id>:<application number>
//       -cn <client> -qs <central server> -jt <job manager token>
//       [-vm <instance>] [-d <media-handling server>] [-snapjid <job id>]
//       [-synthfull] [-MetaDataEnabled]

#include <cstdio>
#include <functional>
#include <string>

#include <boost/make_shared.hpp>

#include "CommonArguments.h"
#include "JobUtils.h"

namespace {

constexpr char kUnit[] = "sample_agent";

// What the job manager tells the agent about its job.
struct JobOptions {
  LONGLONG nJobId = 0;
  std::string strApplicationId;
  ULONG nZentCellId = 0;
  ULONG nApplicationNumber = 0;
  std::string strClientName;
  std::string strZentServeHostName;
  std::string strJobManagerToken;
  std::string strInstance;        // may be absent
  std::string strStorenodeName;   // may be absent
  LONGLONG nSnapBackupJobId = 0;  // may be absent: only a snapshot job has one
  bool bSyntheticFull = false;
  bool bBlockLevelMetaInfo = false;
};

bool IsMissingOption(const CQiError& error) {
  return error.GetKind() == FXErrorKind::Win32 && error.GetOriginalCode() == ERROR_NOT_FOUND;
}

// Fills `options` from the command line. A required option that is missing or
// malformed fails the whole read; an optional one that is missing keeps its
// default.
CQiError ReadJobOptions(const CCommandLineArgumentsPtr& pArgs, JobOptions& options) {
  using Read = std::function<CQiError()>;
  // The flags never fail on a command line; they are read with the required
  // options so that any other failure still stops the agent.
  const Read required[] = {
      [&] { return CArguments::GetJobId(pArgs, options.nJobId); },
      [&] {
        return CArguments::GetApplicationId(pArgs, options.strApplicationId, options.nZentCellId,
                                            options.nApplicationNumber);
      },
      [&] { return CArguments::GetClientName(pArgs, options.strClientName); },
      [&] { return CArguments::GetZentServeHostName(pArgs, options.strZentServeHostName); },
      [&] { return CArguments::GetJobManagerToken(pArgs, options.strJobManagerToken); },
      [&] { return CArguments::GetSyntheticFull(pArgs, options.bSyntheticFull); },
      [&] { return CArguments::GetBlockLevelMetaInfo(pArgs, options.bBlockLevelMetaInfo); },
  };
  const Read optional[] = {
      [&] { return CArguments::GetInstance(pArgs, options.strInstance); },
      [&] { return CArguments::GetStorenodeName(pArgs, options.strStorenodeName); },
      [&] { return CArguments::GetSnapBackupJobId(pArgs, options.nSnapBackupJobId); },
  };

  for (const Read& read : required) {
    CQiError error = read();
    if (error.IsError()) return error.Push(FX_CODE_LOCATION(kUnit), "required job option");
  }
  for (const Read& read : optional) {
    CQiError error = read();
    if (error.IsError() && !IsMissingOption(error)) return error.Push(FX_CODE_LOCATION(kUnit));
  }
  return CQiError::Success();
}

}  // namespace

int main(int argc, char** argv) {
  InitializeUMXClientLibrary();

  const CCommandLineArgumentsPtr pArgs = boost::make_shared<CCommandLineArguments>(argc, argv);
  JobOptions options;
  const CQiError error = ReadJobOptions(pArgs, options);
  if (error.IsError()) {
    std::fprintf(stderr, "umx-sample-agent: %s\n", error.Format().c_str());
    std::fprintf(stderr,
                 "usage: umx-sample-agent -j <job id> -a <cell id>:<application number> "
                 "-cn <client> -qs <central server> -jt <token> [-vm <instance>] "
                 "[-d <media-handling server>] [-snapjid <job id>] [-synthfull] "
                 "[-MetaDataEnabled]\n");
    return 2;
  }
  std::printf("umx-sample-agent: job %lld of application %s on client %s is ready\n",
              static_cast<long long>(options.nJobId), options.strApplicationId.c_str(),
              options.strClientName.c_str());
  return 0;
}
