// A first backup agent, to copy and grow: it joins the job named on its
// command line, creates the job's results directory, writes its result there
// and reports the job complete. sample_agent.cpp is the complete, careful
// version of the same job.
//
// Exit status: 0 done, 1 failed, 2 a bad command line, 128 + N cancelled by
// signal N.

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <utility>

#include <boost/make_shared.hpp>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"
// The local platform's kit: the command line's parser, an error told in
// full, printable text, the platform's root and a log sink.
#include "LocalCommandLine.h"
#include "PrintableText.h"
#include "QiErrorDetail.h"
#include "RkLocalPlatform.h"
#include "StreamLogWriter.h"

namespace {

constexpr char kProgram[] = "first-agent";
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The job manager cancels a job with SIGTERM. The handler only records the
// signal; the platform call it interrupts fails, and the job stops there.
volatile std::sig_atomic_t g_nCancelSignal = 0;
void RecordCancel(int nSignal) { g_nCancelSignal = nSignal; }

// Says why the job failed, escaped as the library's trace is (the texts
// come from outside), and gives the exit status. Once the job is cancelled
// that is the reason, and the failure is the interrupted call's.
int Fail(int nStatus, const std::string& strWhy) {
  if (g_nCancelSignal != 0) {
    std::fprintf(stderr, "%s: cancelled by signal %d\n", kProgram,
                 static_cast<int>(g_nCancelSignal));
    return 128 + g_nCancelSignal;
  }
  std::fprintf(stderr, "%s: %s\n", kProgram, FXPrintableText(strWhy).c_str());
  return nStatus;
}

// Whether all of `strText` is one number from `nLow` to `nHigh`. The library
// reads only a number's prefix and saturates ("12ab" is 12), so the agent
// checks the whole text before it asks the library.
bool IsNumber(const std::string& strText, long long nLow, long long nHigh) {
  if (strText.empty() || std::isspace(static_cast<unsigned char>(strText[0]))) return false;
  errno = 0;
  char* pszEnd = nullptr;
  const long long nValue = std::strtoll(strText.c_str(), &pszEnd, 0);
  return errno == 0 && *pszEnd == '\0' && nValue >= nLow && nValue <= nHigh;
}

struct Job {
  LONGLONG nJobId = 0;
  std::string strApplicationId;  // "<cell id>:<application number>"
  ULONG nCellId = 0;
  ULONG nApplicationNumber = 0;
  std::string strClient;  // empty without -cn
};

// Reads -j, -a and, when given, -cn; each read traces its value on stdout.
// Empty when all is well, else what is wrong.
std::string ReadOptions(const CCommandLineArgumentsPtr& pArgs, Job& job) {
  constexpr long long kMaxId = 0xFFFFFFFF;
  std::string strJobId;
  std::string strAppId;
  if (pArgs->GetOption("j", strJobId).IsError() || !IsNumber(strJobId, LLONG_MIN, LLONG_MAX))
    return "-j <job id> is missing or not a whole number";
  if (pArgs->GetOption("a", strAppId).IsError())
    return "-a <cell id>:<application number> is missing";
  const std::size_t nColon = strAppId.find(':');
  if (nColon == std::string::npos || !IsNumber(strAppId.substr(0, nColon), 0, kMaxId) ||
      !IsNumber(strAppId.substr(nColon + 1), 0, kMaxId)) {
    return "-a is not <cell id>:<application number>, two whole numbers";
  }
  CQiError error = CArguments::GetJobId(pArgs, job.nJobId);
  if (!error.IsError()) {
    error = CArguments::GetApplicationId(pArgs, job.strApplicationId, job.nCellId,
                                         job.nApplicationNumber);
  }
  if (!error.IsError() && !pArgs->GetOption("cn").IsError())
    error = CArguments::GetClientName(pArgs, job.strClient);
  return error.IsError() ? FXErrorDetail::Format(error) : std::string();
}

// Creates each directory of `strPath` below the platform's root `strRoot`
// that is absent, for this user alone: 0, or the system's error.
int MakeDirectories(const std::string& strRoot, const std::string& strPath) {
  for (std::size_t nSlash = strPath.find('/', strRoot.size() + 1);;
       nSlash = strPath.find('/', nSlash + 1)) {
    if (::mkdir(strPath.substr(0, nSlash).c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (nSlash == std::string::npos) return 0;
  }
}

// The job report: the job's status goes to result.txt in the results
// directory, written to a temporary file and renamed into place, so the
// result is there whole or not at all.
class ResultFileReport : public CJobReport {
 public:
  explicit ResultFileReport(std::string strDirectory) : m_strDirectory(std::move(strDirectory)) {}

  CQiError SendJobComplete(EJobStatus eStatus) override {
    const std::string strResult = m_strDirectory + "/result.txt";
    const std::string strTemporary = strResult + ".partial";
    std::ofstream file(strTemporary, std::ios::trunc);
    file << "JobComplete=" << EJobStatus::AsString(eStatus.Value()) << '\n';
    file.close();
    if (file && std::rename(strTemporary.c_str(), strResult.c_str()) == 0)
      return CQiError::Success();
    (void)std::remove(strTemporary.c_str());
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION(kProgram), ERROR_FUNCTION_FAILED,
                                   "cannot write %s", strResult.c_str());
  }

 private:
  std::string m_strDirectory;
};

int RunJob(int argc, char** argv) {
  const CCommandLineArgumentsPtr pArgs = boost::make_shared<CLocalCommandLineArguments>(argc, argv);
  Job job;
  const std::string strBadOption = ReadOptions(pArgs, job);
  if (!strBadOption.empty()) return Fail(kExitUsage, strBadOption);

  // Held until the job is reported. The platform takes the arguments as
  // they are; an empty handle means it refused, and the log sink says why.
  const CBackupJobClientPtr pJobClient = CBackupJobClient::createInstance(
      job.strClient.c_str(), job.nJobId, 0, RKS_PLATFORM_LINUX, false, "");
  if (!pJobClient) return Fail(kExitFailed, "the platform did not let the agent join the job");

  // The results are the -cn client's, or without -cn the application's.
  if (!job.strClient.empty()) (void)CXJob::SetFocusClientName(job.strClient);
  std::string strPath;
  const CQiError error = CXJob::GetFileSystemResultPathForJobFromApplicationId(job.strApplicationId,
                                                                               job.nJobId, strPath);
  if (error.IsError())
    return Fail(kExitFailed, "no results directory: " + FXErrorDetail::Format(error));
  // Only a directory below the platform's root is the job's to write in; a
  // ".." component could lead out of it again.
  const std::string strRoot = RkLocalPlatform::Root();
  if (strPath.compare(0, strRoot.size() + 1, strRoot + "/") != 0 ||
      (strPath + "/").find("/../") != std::string::npos) {
    return Fail(kExitFailed,
                "the results directory " + strPath + " is not below the root " + strRoot);
  }
  if (const int nError = MakeDirectories(strRoot, strPath))
    return Fail(kExitFailed, "cannot create " + strPath + ": " + std::strerror(nError));

  if (g_nCancelSignal != 0) return Fail(kExitFailed, "cancelled");
  ResultFileReport report(strPath);
  const CQiError reported = report.SendJobComplete(EJobStatus::JMSUCCESS);
  if (reported.IsError()) return Fail(kExitFailed, FXErrorDetail::Format(reported));
  std::printf("%s: job %lld done, result in %s/result.txt\n", kProgram, job.nJobId,
              FXPrintableText(strPath).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction cancel {};
  cancel.sa_handler = RecordCancel;
  sigemptyset(&cancel.sa_mask);
  ::sigaction(SIGTERM, &cancel, nullptr);
  // The library writes its failures to the agent's log sink.
  g_ptrLogWriter = boost::make_shared<CStreamLogWriter>(stderr, 1);
  try {
    return RunJob(argc, argv);
  } catch (const char* pszMisuse) {  // the backup job client: created twice, or not yet
    return Fail(kExitFailed, std::string("the backup job client was misused: ") + pszMisuse);
  } catch (const std::exception& exception) {  // from the platform, the log sink, an allocation
    return Fail(kExitFailed, std::string("the job stopped on an exception: ") + exception.what());
  }
}
