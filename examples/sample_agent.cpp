// A backup agent in miniature: what the job manager starts for a job. It reads
// the job's options from its command line (one trace line each), joins the
// job as the process's backup job client, finds the job's results directory
// on its client and reports the job into a summary file there.
//
//   umx-sample-agent -j <job id> -a <cell id>:<application number>
//       -cn <client> -qs <central server> -jt <job manager token>
//       [-vm <instance>] [-d <media-handling server>] [-snapjid <job id>]
//       [-synthfull] [-MetaDataEnabled]
//
// Exit status: 0 when the job was reported, 2 for a missing or malformed
// option, 1 for any other failure; every failure is printed to stderr.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <utility>

#include <boost/make_shared.hpp>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"

namespace {

constexpr char kUnit[] = "sample_agent";
constexpr char kProgram[] = "umx-sample-agent";
constexpr char kSummaryFileName[] = "job-summary.txt";
constexpr char kUsage[] =
    "usage: umx-sample-agent -j <job id> -a <cell id>:<application number> "
    "-cn <client> -qs <central server> -jt <token> [-vm <instance>] "
    "[-d <media-handling server>] [-snapjid <job id>] [-synthfull] [-MetaDataEnabled]\n";

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

// Writes each report as a "Key=value" line of a summary file, flushed at once
// so that the file shows how far a job got even if the agent dies.
class SummaryJobReport : public CJobReport {
 public:
  explicit SummaryJobReport(std::filesystem::path path)
      : m_path(std::move(path)), m_file(m_path, std::ios::trunc) {}

  CQiError SetNumberOfFilesInBackup(long long nFiles) override {
    return Write("FilesInBackup", nFiles);
  }
  CQiError SetScanStatistics(unsigned int nStatistics) override {
    return Write("ScanStatistics", nStatistics);
  }
  CQiError SetNumberOfStreams(int nStreams) override { return Write("Streams", nStreams); }
  CQiError SendPhaseComplete(EJobStatus eStatus) override {
    return Write("PhaseComplete", EJobStatus::AsString(eStatus.Value()));
  }
  CQiError SendJobComplete(EJobStatus eStatus) override {
    return Write("JobComplete", EJobStatus::AsString(eStatus.Value()));
  }

 private:
  template <typename Value>
  CQiError Write(const char* pszKey, const Value& value) {
    m_file << pszKey << '=' << value << std::endl;
    if (m_file) return CQiError::Success();
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                                   "Cannot write %s to %s", pszKey, m_path.c_str());
  }

  std::filesystem::path m_path;
  std::ofstream m_file;
};

// Joins the job. The handle is empty when the platform refused; it has then
// written why to the log sink.
CQiError CreateJobClient(const JobOptions& options, CBackupJobClientPtr& pJobClient) {
  pJobClient = CBackupJobClient::createInstance(options.strClientName.c_str(), options.nJobId, 0,
                                                RKS_PLATFORM_LINUX, options.bSyntheticFull,
                                                options.strJobManagerToken.c_str());
  if (!pJobClient) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                                   "No backup job client for job %lld", options.nJobId);
  }
  std::printf("%s: backup job client created for job %lld\n", kProgram, options.nJobId);
  return CQiError::Success();
}

// Looks up the job's results directory on the -cn client and creates it.
CQiError MakeResultsDirectory(const JobOptions& options, std::string& strPath) {
  CQiError error = CXJob::SetFocusClientName(options.strClientName);
  std::string strServerName;
  if (!error.IsError()) error = CXJob::GetServerName(strServerName);
  if (!error.IsError()) {
    std::printf("%s: central server %s\n", kProgram, strServerName.c_str());
    error = CXJob::GetFileSystemResultPathForJob(options.strClientName, options.nJobId, strPath);
  }
  if (error.IsError()) return error.Push(FX_CODE_LOCATION(kUnit));

  std::error_code systemError;
  std::filesystem::create_directories(strPath, systemError);
  if (systemError) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                                   "Cannot create %s: %s", strPath.c_str(),
                                   systemError.message().c_str());
  }
  std::printf("%s: job results in %s\n", kProgram, strPath.c_str());
  return CQiError::Success();
}

// The sample moves no data; these stand for what a small job's scan and
// streams would have counted.
CQiError ReportJob(const std::string& strResultsPath) {
  constexpr long long kFilesInBackup = 3;
  constexpr unsigned int kScanStatistics = 3;  // here: the files the scan looked at
  constexpr int kStreams = 1;
  const EJobStatus eStatus(EJobStatus::JMSUCCESS);

  SummaryJobReport summary(std::filesystem::path(strResultsPath) / kSummaryFileName);
  CJobReport& report = summary;
  CQiError error = report.SetNumberOfFilesInBackup(kFilesInBackup);
  if (!error.IsError()) error = report.SetScanStatistics(kScanStatistics);
  if (!error.IsError()) error = report.SetNumberOfStreams(kStreams);
  if (!error.IsError()) error = report.SendPhaseComplete(eStatus);
  if (!error.IsError()) error = report.SendJobComplete(eStatus);
  if (error.IsError()) return error.Push(FX_CODE_LOCATION(kUnit));
  std::printf("%s: sent job status %s\n", kProgram, EJobStatus::AsString(eStatus.Value()).c_str());
  return CQiError::Success();
}

// The error with every frame, for the person who ran the agent.
void PrintError(const CQiError& error) {
  std::fprintf(stderr, "%s: %s\n", kProgram, error.Format().c_str());
}

int RunJob(int argc, char** argv) {
  const CCommandLineArgumentsPtr pArgs = boost::make_shared<CCommandLineArguments>(argc, argv);
  JobOptions options;
  CQiError error = ReadJobOptions(pArgs, options);
  if (error.IsError()) {
    PrintError(error);
    std::fputs(kUsage, stderr);
    return 2;
  }

  CBackupJobClientPtr pJobClient;  // held until the job has been reported
  std::string strResultsPath;
  error = CreateJobClient(options, pJobClient);
  if (!error.IsError()) error = MakeResultsDirectory(options, strResultsPath);
  if (!error.IsError()) error = ReportJob(strResultsPath);
  if (error.IsError()) {
    PrintError(error);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The agent owns the log sink; the library writes its failures there.
  g_ptrLogWriter = boost::make_shared<CStreamLogWriter>(stderr, 1);
  InitializeUMXClientLibrary();
  try {
    return RunJob(argc, argv);
  } catch (const char* pszMisuse) {  // the backup job client's misuse texts
    std::fprintf(stderr, "%s: %s\n", kProgram, pszMisuse);
  } catch (const std::exception& exception) {
    std::fprintf(stderr, "%s: %s\n", kProgram, exception.what());
  }
  return 1;
}
