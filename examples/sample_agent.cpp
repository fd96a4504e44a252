// A backup agent in miniature: what the job manager starts for a job. It reads
// the job's options from its command line (one trace line each), joins the
// job as the process's backup job client, finds the job's results directory
// on its client (named by -cn, or found through its application) and reports
// the job into a summary file there. The usage text below says how to run it.

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include <boost/make_shared.hpp>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"
#include "LocalCommandLine.h"
#include "QiErrorDetail.h"
#include "StreamLogWriter.h"

namespace {

constexpr char kUnit[] = "sample_agent";
constexpr char kProgram[] = "umx-sample-agent";
constexpr char kSummaryFileName[] = "job-summary.txt";

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;  // the platform or the file system failed
constexpr int kExitUsage = 2;   // the command line is wrong

constexpr char kUsage[] =
    "usage: umx-sample-agent -j <job id> -a <cell id>:<application number>\n"
    "                        [-cn <client>] -qs <central server> -jt <job manager token>\n"
    "                        [-vm <instance>] [-d <media-handling server>]\n"
    "                        [-snapjid <job id>] [-synthfull] [-MetaDataEnabled]\n"
    "       umx-sample-agent -h | --help\n"
    "\n"
    "Joins job <job id> as its backup job client, finds the job's results directory\n"
    "and reports the job into job-summary.txt there. With -cn it is the directory of\n"
    "<client>, made the process's focus client. Without -cn no focus client is set:\n"
    "the platform names the client of application <cell id>:<application number>,\n"
    "and a failed application or client lookup fails the job. A job id is a whole\n"
    "number: decimal, hexadecimal after 0x, octal after a leading 0, with an\n"
    "optional sign. Each option read is traced on stdout; failures go to stderr.\n"
    "\n"
    "Exit status:\n"
    "  0  the job was done and reported\n"
    "  1  the platform or the file system failed\n"
    "  2  the command line is wrong\n";

// What went wrong, in plain words for the person who ran the agent, with the
// error behind it and the exit status it gives.
struct Failure {
  std::string strWhat;
  CQiError error;
  int nStatus;
};
using Outcome = std::optional<Failure>;  // nullopt: the step succeeded

// What the job manager tells the agent about its job.
struct JobOptions {
  LONGLONG nJobId = 0;
  std::string strApplicationId;
  ULONG nZentCellId = 0;
  ULONG nApplicationNumber = 0;
  std::optional<std::string> strClientName;  // absent: found through the application
  std::string strZentServeHostName;
  std::string strJobManagerToken;
  std::string strInstance;        // may be absent
  std::string strStorenodeName;   // may be absent
  LONGLONG nSnapBackupJobId = 0;  // may be absent: only a snapshot job has one
  bool bSyntheticFull = false;
  bool bBlockLevelMetaInfo = false;
};

bool IsHelpRequest(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

// Exactly the texts that the job id accessor converts without loss: a number
// that strtoll reads in base 0 from the first character to the last, within
// 64 bits.
bool IsWholeNumber(const std::string& strText) {
  if (strText.empty() || std::isspace(static_cast<unsigned char>(strText[0]))) return false;
  errno = 0;
  char* pszEnd = nullptr;
  (void)std::strtoll(strText.c_str(), &pszEnd, 0);
  return errno != ERANGE && *pszEnd == '\0';
}

// One option of the command line and how it is read.
struct OptionRead {
  const char* pszName;
  const char* pszWhat;  // what the option is, in plain words
  bool bRequired;
  // What a well-formed value is; null when any text is.
  const char* pszForm;
  // Tested on the text before it is read; null when the read tests it.
  bool (*pfnWellFormed)(const std::string&);
  std::function<CQiError()> read;
};

// "the job id (-j)", followed by `strRest`.
std::string Describe(const OptionRead& option, const std::string& strRest) {
  return std::string(option.pszWhat) + " (-" + option.pszName + ")" + strRest;
}

// Fills `options` from the command line. A required option that is missing or
// malformed fails the whole read; an optional one that is missing keeps its
// default, but one that is given must be well formed.
Outcome ReadJobOptions(const CCommandLineArgumentsPtr& pArgs, JobOptions& options) {
  constexpr char kWholeNumber[] = "a whole number";
  // The flags never fail; they count as required so that they are always
  // read, and traced.
  const OptionRead reads[] = {
      {"j", "the job id", true, kWholeNumber, IsWholeNumber,
       [&] { return CArguments::GetJobId(pArgs, options.nJobId); }},
      {"a", "the application id", true, "<cell id>:<application number>", nullptr,
       [&] {
         return CArguments::GetApplicationId(pArgs, options.strApplicationId, options.nZentCellId,
                                             options.nApplicationNumber);
       }},
      {"cn", "the client name", false, nullptr, nullptr,
       [&] { return CArguments::GetClientName(pArgs, options.strClientName.emplace()); }},
      {"qs", "the central server's host name", true, nullptr, nullptr,
       [&] { return CArguments::GetZentServeHostName(pArgs, options.strZentServeHostName); }},
      {"jt", "the job manager token", true, nullptr, nullptr,
       [&] { return CArguments::GetJobManagerToken(pArgs, options.strJobManagerToken); }},
      {"synthfull", "the synthetic full flag", true, nullptr, nullptr,
       [&] { return CArguments::GetSyntheticFull(pArgs, options.bSyntheticFull); }},
      {"MetaDataEnabled", "the block-level metadata flag", true, nullptr, nullptr,
       [&] { return CArguments::GetBlockLevelMetaInfo(pArgs, options.bBlockLevelMetaInfo); }},
      {"vm", "the instance", false, nullptr, nullptr,
       [&] { return CArguments::GetInstance(pArgs, options.strInstance); }},
      {"d", "the media-handling server", false, nullptr, nullptr,
       [&] { return CArguments::GetStorenodeName(pArgs, options.strStorenodeName); }},
      {"snapjid", "the snapshot backup job id", false, kWholeNumber, IsWholeNumber,
       [&] { return CArguments::GetSnapBackupJobId(pArgs, options.nSnapBackupJobId); }},
  };

  // Every value is checked before any is read, so a bad one is refused
  // before the job's options are traced.
  for (const OptionRead& option : reads) {
    std::string strText;
    if (option.pfnWellFormed == nullptr || pArgs->GetOption(option.pszName, strText).IsError() ||
        option.pfnWellFormed(strText)) {
      continue;
    }
    return Failure{Describe(option, " \"" + strText + "\" is not " + option.pszForm),
                   FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_INVALID_PARAMETER,
                                           "Option -%s is not %s: \"%s\"", option.pszName,
                                           option.pszForm, strText.c_str()),
                   kExitUsage};
  }
  for (const OptionRead& option : reads) {
    std::string strText;
    const bool bPresent = !pArgs->GetOption(option.pszName, strText).IsError();
    if (!bPresent && !option.bRequired) continue;
    CQiError error = option.read();
    if (!error.IsError()) continue;
    const std::string strQuoted = " \"" + strText + "\"";
    return Failure{
        Describe(option, !bPresent                   ? " is missing"
                         : option.pszForm != nullptr ? strQuoted + " is not " + option.pszForm
                                                     : strQuoted + " cannot be read"),
        std::move(error), kExitUsage};
  }
  return std::nullopt;
}

// The summary's "Key=value" lines go to a temporary file beside it, which
// takes the summary's name once the report is complete; a job that fails
// before then leaves no summary, not a partial one.
class SummaryJobReport : public CJobReport {
 public:
  explicit SummaryJobReport(std::filesystem::path path)
      : m_path(std::move(path)),
        m_partialPath(m_path.string() + ".partial"),
        m_file(m_partialPath) {}
  ~SummaryJobReport() override {
    if (m_bCommitted) return;
    m_file.close();
    std::error_code ignored;
    std::filesystem::remove(m_partialPath, ignored);
  }
  SummaryJobReport(const SummaryJobReport&) = delete;
  SummaryJobReport& operator=(const SummaryJobReport&) = delete;

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

  // Puts the summary in place under its own name.
  [[nodiscard]] CQiError Commit() {
    m_file.close();
    if (!m_file) {
      return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                                     "Cannot write %s", m_partialPath.c_str());
    }
    std::error_code systemError;
    std::filesystem::rename(m_partialPath, m_path, systemError);
    if (systemError) {
      return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                                     "Cannot rename %s to %s: %s", m_partialPath.c_str(),
                                     m_path.c_str(), systemError.message().c_str());
    }
    m_bCommitted = true;
    return CQiError::Success();
  }

  const std::filesystem::path& Path() const { return m_path; }

 private:
  template <typename Value>
  CQiError Write(const char* pszKey, const Value& value) {
    m_file << pszKey << '=' << value << '\n';
    if (m_file) return CQiError::Success();
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                                   "Cannot write %s to %s", pszKey, m_partialPath.c_str());
  }

  std::filesystem::path m_path;
  std::filesystem::path m_partialPath;
  std::ofstream m_file;
  bool m_bCommitted = false;
};

// Joins the job, for the -cn client or, without one, for an empty client name:
// the client is not known until the results directory is looked up. The
// platform's reason for a refusal is in the log sink.
Outcome CreateJobClient(const JobOptions& options, CBackupJobClientPtr& pJobClient) {
  const std::string strClientName = options.strClientName.value_or("");
  pJobClient =
      CBackupJobClient::createInstance(strClientName.c_str(), options.nJobId, 0, RKS_PLATFORM_LINUX,
                                       options.bSyntheticFull, options.strJobManagerToken.c_str());
  if (!pJobClient) {
    return Failure{"cannot create the backup job client: the platform refused to initialise it",
                   FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                                           "No backup job client for job %lld", options.nJobId),
                   kExitFailed};
  }
  std::printf("%s: backup job client created for job %lld\n", kProgram, options.nJobId);
  return std::nullopt;
}

// Looks up the job's results directory and creates it: on the -cn client, made
// the focus client, or else with no focus client set, on the client that the
// platform names for the -a application.
Outcome MakeResultsDirectory(const JobOptions& options, std::string& strPath) {
  CQiError error;
  if (options.strClientName) error = CXJob::SetFocusClientName(*options.strClientName);
  std::string strServerName;
  if (!error.IsError()) error = CXJob::GetServerName(strServerName);
  if (error.IsError()) {
    return Failure{"cannot find the central server's host name",
                   std::move(error.Push(FX_CODE_LOCATION(kUnit))), kExitFailed};
  }
  std::printf("%s: central server %s\n", kProgram, strServerName.c_str());

  // On the application's road one call finds both the client and its
  // directory, so the first line names the application; the frames tell
  // which lookup failed.
  error = options.strClientName ? CXJob::GetFileSystemResultPathForJob(*options.strClientName,
                                                                       options.nJobId, strPath)
                                : CXJob::GetFileSystemResultPathForJobFromApplicationId(
                                      options.strApplicationId, options.nJobId, strPath);
  if (error.IsError()) {
    const std::string strOwner = options.strClientName ? "client " + *options.strClientName
                                                       : "application " + options.strApplicationId;
    return Failure{"cannot find the job results directory of " + strOwner,
                   std::move(error.Push(FX_CODE_LOCATION(kUnit))), kExitFailed};
  }
  std::error_code systemError;
  std::filesystem::create_directories(strPath, systemError);
  if (systemError) {
    return Failure{
        "cannot create the job results directory " + strPath + ": " + systemError.message(),
        FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                                "Cannot create %s: %s", strPath.c_str(),
                                systemError.message().c_str()),
        kExitFailed};
  }
  std::printf("%s: job results in %s\n", kProgram, strPath.c_str());
  return std::nullopt;
}

// The sample moves no data; these stand for what a small job's scan and
// streams would have counted.
Outcome ReportJob(const std::string& strResultsPath) {
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
  if (!error.IsError()) error = summary.Commit();
  if (error.IsError()) {
    return Failure{"cannot write the job summary " + summary.Path().string(),
                   std::move(error.Push(FX_CODE_LOCATION(kUnit))), kExitFailed};
  }
  std::printf("%s: sent job status %s\n", kProgram, EJobStatus::AsString(eStatus.Value()).c_str());
  return std::nullopt;
}

// The plain words first, then each frame of the error on a line of its own,
// from where it was made to where it was last passed on.
void PrintFailure(const Failure& failure) {
  std::fprintf(stderr, "%s: %s\n", kProgram, failure.strWhat.c_str());
  for (const FXErrorFrame& frame : FXErrorDetail::GetFrames(failure.error)) {
    std::fprintf(stderr, "    %s:%d %s%s%s\n", frame.strFile.c_str(), frame.nLine,
                 frame.strFunction.c_str(), frame.strMessage.empty() ? "" : ": ",
                 frame.strMessage.c_str());
  }
  if (failure.nStatus == kExitUsage) {
    std::fprintf(stderr, "Run '%s --help' for the usage.\n", kProgram);
  }
}

int RunJob(int argc, char** argv) {
  const CCommandLineArgumentsPtr pArgs = boost::make_shared<CLocalCommandLineArguments>(argc, argv);
  JobOptions options;
  CBackupJobClientPtr pJobClient;  // held until the job has been reported
  std::string strResultsPath;
  Outcome failure = ReadJobOptions(pArgs, options);
  if (!failure) failure = CreateJobClient(options, pJobClient);
  if (!failure) failure = MakeResultsDirectory(options, strResultsPath);
  if (!failure) failure = ReportJob(strResultsPath);
  if (!failure) return kExitDone;
  PrintFailure(*failure);
  return failure->nStatus;
}

}  // namespace

int main(int argc, char** argv) {
  if (IsHelpRequest(argc, argv)) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  // The agent owns the log sink; the library writes its failures there.
  g_ptrLogWriter = boost::make_shared<CStreamLogWriter>(stderr, 1);
  InitializeUMXClientLibrary();
  try {
    return RunJob(argc, argv);
  } catch (const char* pszMisuse) {  // the backup job client's misuse texts
    std::fprintf(stderr, "%s: the backup job client was misused: %s\n", kProgram, pszMisuse);
  } catch (const std::exception& exception) {
    std::fprintf(stderr, "%s: the job stopped on an exception: %s\n", kProgram, exception.what());
  }
  return kExitFailed;
}
