// A backup agent in miniature: what the job manager starts for a job. It reads
// the job's options from its command line (one trace line each), joins the
// job as the process's backup job client, finds the job's results directory
// on its client (named by -cn, or found through its application) and reports
// the job into a summary file there; cancelled by SIGTERM, it reports the job
// KILLED and leaves no summary. The usage text below says how to run it.
//
// It is also the pattern for an agent's care on a shared machine: every text
// it did not make is printed with its control characters escaped, no file it
// opens can take the place of a closed standard descriptor, and it writes
// only into directories of its own, reached without following a link that
// another user could have planted, through a file only it created.

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include <boost/make_shared.hpp>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"
#include "LocalCommandLine.h"
#include "PrintableText.h"
#include "PrivateDirectory.h"
#include "QiErrorDetail.h"
#include "RkLocalPlatform.h"
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
    "SIGTERM or SIGINT cancels the job, even inside a platform call: the job\n"
    "report says KILLED and no summary is left.\n"
    "\n"
    "Exit status:\n"
    "  0      the job was done and reported\n"
    "  1      the platform or the file system failed, or the trace could not be\n"
    "         written to stdout\n"
    "  2      the command line is wrong\n"
    "  128+N  the job was cancelled by signal N (143 for SIGTERM, 130 for SIGINT)\n";

// The signal that cancelled the job, or 0. Its handler only records it; the
// job looks at it between steps and when a step fails, since a platform call
// that the signal cut short fails.
volatile std::sig_atomic_t g_nCancelSignal = 0;

void RecordCancel(int nSignal) { g_nCancelSignal = nSignal; }

// What went wrong, in plain words for the person who ran the agent, with the
// error behind it and the exit status it gives.
struct Failure {
  std::string strWhat;
  CQiError error;
  int nStatus;
};
using Outcome = std::optional<Failure>;  // nullopt: the step succeeded

// A failure of the job at `location`, said in `strWhat`.
Failure JobFailure(const FXCodeLocation& location, unsigned int nCode, const std::string& strWhat) {
  return Failure{strWhat, FXErrorUtil::ErrorWin32(location, nCode, "%s", strWhat.c_str()),
                 kExitFailed};
}

// A failed system call at `location`: `strWhat` and the system's reason for
// `nErrno`.
Failure SystemFailure(const FXCodeLocation& location, const std::string& strWhat, int nErrno) {
  const char* pszReason = std::strerror(nErrno);
  return Failure{strWhat + ": " + pszReason,
                 FXErrorUtil::ErrorWin32(location, ERROR_FUNCTION_FAILED, "%s: %s", strWhat.c_str(),
                                         pszReason),
                 kExitFailed};
}

// A file descriptor, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
  }

  int get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }
  // Closes it now, for the result of close(2): 0, or -1 with errno.
  int Close() { return ::close(std::exchange(m_fd, -1)); }

 private:
  int m_fd = -1;
};

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

// "<cell id>:<application number>", two numbers that the application id
// accessor converts without loss: each read by strtoul in base 0 from its
// first character to its last, unsigned and within 32 bits.
bool IsApplicationId(const std::string& strText) {
  const auto isNumber = [](const std::string& strPart) {
    if (strPart.empty() || !std::isdigit(static_cast<unsigned char>(strPart[0]))) return false;
    errno = 0;
    char* pszEnd = nullptr;
    const unsigned long long nValue = std::strtoull(strPart.c_str(), &pszEnd, 0);
    return errno != ERANGE && *pszEnd == '\0' && nValue <= 0xFFFFFFFFULL;
  };
  const std::size_t nColon = strText.find(':');
  return nColon != std::string::npos && isNumber(strText.substr(0, nColon)) &&
         isNumber(strText.substr(nColon + 1));
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
      {"a", "the application id", true, "<cell id>:<application number>", IsApplicationId,
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

// Opens a root named by RK_LOCAL_PLATFORM_ROOT, the user's choice: it is
// made when absent, and links on the way to it and at it are followed.
Outcome OpenNamedRoot(const std::string& strRoot, UniqueFd& root) {
  for (std::size_t nSlash = strRoot.find('/', 1);; nSlash = strRoot.find('/', nSlash + 1)) {
    const std::string strPrefix = strRoot.substr(0, nSlash);
    if (::mkdir(strPrefix.c_str(), 0700) != 0 && errno != EEXIST) {
      return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot create " + strPrefix, errno);
    }
    if (nSlash == std::string::npos) break;
  }
  root = UniqueFd(::open(strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) {
    return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot open the platform's root " + strRoot,
                         errno);
  }
  return std::nullopt;
}

// Opens the platform's root. The default root is the user's own: it is
// opened without following a link, and the open descriptor must show a
// directory of this user's that no one else can write to. A root swapped in
// before this check is refused, and one swapped in after it is never
// reached: the walk below starts from the descriptor.
Outcome OpenRoot(const std::string& strRoot, UniqueFd& root) {
  const char* pszNamed = std::getenv(RkLocalPlatform::kRootVariable);
  if (pszNamed != nullptr && *pszNamed != '\0') return OpenNamedRoot(strRoot, root);
  UniqueFd opened(::open(strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!opened || ::fstat(opened.get(), &info) != 0) {
    return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot open the platform's root " + strRoot,
                         errno);
  }
  const std::string strWhy = FXWhyNotPrivateDirectory(info);
  if (!strWhy.empty()) {
    return JobFailure(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                      "refusing the platform's root " + strRoot + ": " + strWhy);
  }
  root = std::move(opened);
  return std::nullopt;
}

// Opens the job's results directory `strPath`, which the platform names
// below its root. From the root down, each directory is opened without
// following a symbolic link, created (mode 0700, whatever the umask) when it
// is absent, and must be this user's own with no one else able to write to
// it: no other user can then redirect the agent's writes by planting a link
// or a directory of theirs on the way.
Outcome OpenResultsDirectory(const std::string& strPath, UniqueFd& directory) {
  const std::string strRoot = RkLocalPlatform::Root();
  if (strPath.size() <= strRoot.size() + 1 || strPath.compare(0, strRoot.size(), strRoot) != 0 ||
      strPath[strRoot.size()] != '/') {
    return JobFailure(
        FX_CODE_LOCATION(kUnit), ERROR_INVALID_PARAMETER,
        "the job results directory " + strPath + " is not below the platform's root " + strRoot);
  }
  UniqueFd current;
  if (Outcome failure = OpenRoot(strRoot, current)) return failure;

  std::string strWalked = strRoot;
  for (std::size_t nStart = strRoot.size() + 1; nStart <= strPath.size();) {
    const std::size_t nSlash = std::min(strPath.find('/', nStart), strPath.size());
    const std::string strName = strPath.substr(nStart, nSlash - nStart);
    nStart = nSlash + 1;
    if (strName.empty()) continue;
    strWalked += '/' + strName;
    if (strName == "." || strName == "..") {
      return JobFailure(FX_CODE_LOCATION(kUnit), ERROR_INVALID_PARAMETER,
                        "refusing " + strWalked + ": it leaves the platform's root");
    }
    if (::mkdirat(current.get(), strName.c_str(), 0700) != 0 && errno != EEXIST) {
      return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot create " + strWalked, errno);
    }
    UniqueFd next(
        ::openat(current.get(), strName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    const int nOpenErrno = errno;
    const int nStat = next ? ::fstat(next.get(), &info)
                           : ::fstatat(current.get(), strName.c_str(), &info, AT_SYMLINK_NOFOLLOW);
    if (nStat != 0)
      return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot open " + strWalked,
                           next ? errno : nOpenErrno);
    const std::string strWhy = FXWhyNotPrivateDirectory(info);
    if (!strWhy.empty()) {
      return JobFailure(FX_CODE_LOCATION(kUnit), ERROR_FUNCTION_FAILED,
                        std::string("refusing ").append(strWalked).append(": ").append(strWhy));
    }
    if (!next)
      return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot open " + strWalked, nOpenErrno);
    current = std::move(next);
  }
  directory = std::move(current);
  return std::nullopt;
}

// Writes all of `text` to `fd`; 0, or -1 with errno.
int WriteAll(int fd, const std::string& text) {
  for (std::size_t nDone = 0; nDone < text.size();) {
    const ssize_t nWritten = ::write(fd, text.data() + nDone, text.size() - nDone);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten < 0) return -1;
    nDone += static_cast<std::size_t>(nWritten);
  }
  return 0;
}

// A file that this process created in a directory, removed when it goes
// unless it was kept: a failed job removes what it made and nothing else.
class OwnFile {
 public:
  OwnFile(int nDirectory, std::string strName, UniqueFd file)
      : m_nDirectory(nDirectory), m_strName(std::move(strName)), m_file(std::move(file)) {}
  ~OwnFile() {
    if (!m_bKept) (void)::unlinkat(m_nDirectory, m_strName.c_str(), 0);
  }
  OwnFile(const OwnFile&) = delete;
  OwnFile& operator=(const OwnFile&) = delete;

  const std::string& Name() const { return m_strName; }
  UniqueFd& File() { return m_file; }
  void Keep() { m_bKept = true; }

 private:
  int m_nDirectory;
  std::string m_strName;
  UniqueFd m_file;
  bool m_bKept = false;
};

// Creates a file of a fresh name beginning with `strPrefix` in the directory,
// readable and writable by this user alone. The name is new (O_EXCL) and
// never a link, so nothing that stood there before is opened.
Outcome CreateOwnFile(int nDirectory, const std::string& strDirectory, const std::string& strPrefix,
                      std::optional<OwnFile>& file) {
  constexpr char kHex[] = "0123456789abcdef";
  for (int nAttempt = 0; nAttempt < 16; ++nAttempt) {
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
      return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot name a new file in " + strDirectory,
                           errno);
    }
    std::string strName = strPrefix;
    for (const unsigned char byte : random) {
      strName += kHex[byte >> 4];
      strName += kHex[byte & 0xF];
    }
    UniqueFd fd(::openat(nDirectory, strName.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd) {
      file.emplace(nDirectory, std::move(strName), std::move(fd));
      return std::nullopt;
    }
    if (errno != EEXIST) {
      return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot create a file in " + strDirectory,
                           errno);
    }
  }
  return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot create a file in " + strDirectory, EEXIST);
}

// The summary's "Key=value" lines, collected as the job reports them, then
// written into the results directory as a new file of this process's own,
// flushed to the disk, renamed to the summary's name and the directory
// flushed too: the summary is there complete or not at all, even after a
// crash, and a failed job leaves nothing behind.
class SummaryJobReport : public CJobReport {
 public:
  // Both are the caller's, known once the results directory is made.
  SummaryJobReport(const UniqueFd& directory, const std::string& strDirectory)
      : m_directory(directory), m_strDirectory(strDirectory) {}

  CQiError SetNumberOfFilesInBackup(long long nFiles) override {
    return Write("FilesInBackup", std::to_string(nFiles));
  }
  CQiError SetScanStatistics(unsigned int nStatistics) override {
    return Write("ScanStatistics", std::to_string(nStatistics));
  }
  CQiError SetNumberOfStreams(int nStreams) override {
    return Write("Streams", std::to_string(nStreams));
  }
  CQiError SendPhaseComplete(EJobStatus eStatus) override {
    return Write("PhaseComplete", EJobStatus::AsString(eStatus.Value()));
  }
  CQiError SendJobComplete(EJobStatus eStatus) override {
    return Write("JobComplete", EJobStatus::AsString(eStatus.Value()));
  }

  // Puts the summary in place under its own name.
  [[nodiscard]] Outcome Commit() {
    const int nDirectory = m_directory.get();
    std::optional<OwnFile> file;
    if (Outcome failure = CreateOwnFile(nDirectory, m_strDirectory,
                                        std::string(kSummaryFileName) + ".partial-", file)) {
      return failure;
    }
    const std::string strPartial = m_strDirectory + "/" + file->Name();
    if (WriteAll(file->File().get(), m_strText) != 0 || ::fsync(file->File().get()) != 0 ||
        file->File().Close() != 0) {
      return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot write " + strPartial, errno);
    }
    if (::renameat(nDirectory, file->Name().c_str(), nDirectory, kSummaryFileName) != 0) {
      return SystemFailure(FX_CODE_LOCATION(kUnit),
                           "cannot rename " + strPartial + " to " + kSummaryFileName, errno);
    }
    file->Keep();
    if (::fsync(nDirectory) != 0) {
      return SystemFailure(FX_CODE_LOCATION(kUnit), "cannot flush the directory " + m_strDirectory,
                           errno);
    }
    return std::nullopt;
  }

 private:
  CQiError Write(const char* pszKey, const std::string& strValue) {
    m_strText.append(pszKey).append(1, '=').append(strValue).append(1, '\n');
    return CQiError::Success();
  }

  const UniqueFd& m_directory;
  const std::string& m_strDirectory;
  std::string m_strText;
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
Outcome MakeResultsDirectory(const JobOptions& options, std::string& strPath, UniqueFd& directory) {
  CQiError error;
  if (options.strClientName) error = CXJob::SetFocusClientName(*options.strClientName);
  std::string strServerName;
  if (!error.IsError()) error = CXJob::GetServerName(strServerName);
  if (error.IsError()) {
    return Failure{"cannot find the central server's host name",
                   std::move(error.Push(FX_CODE_LOCATION(kUnit))), kExitFailed};
  }
  std::printf("%s: central server %s\n", kProgram, FXPrintableText(strServerName).c_str());

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
  if (Outcome failure = OpenResultsDirectory(strPath, directory)) return failure;
  std::printf("%s: job results in %s\n", kProgram, FXPrintableText(strPath).c_str());
  return std::nullopt;
}

// The sample moves no data; these stand for what a small job's scan and
// streams would have counted. A job cancelled before its summary is in place
// fails here, and leaves none.
Outcome ReportJob(SummaryJobReport& summary, const std::string& strResultsPath) {
  constexpr long long kFilesInBackup = 3;
  constexpr unsigned int kScanStatistics = 3;  // here: the files the scan looked at
  constexpr int kStreams = 1;
  const EJobStatus eStatus(EJobStatus::JMSUCCESS);

  CJobReport& report = summary;
  CQiError error = report.SetNumberOfFilesInBackup(kFilesInBackup);
  if (!error.IsError()) error = report.SetScanStatistics(kScanStatistics);
  if (!error.IsError()) error = report.SetNumberOfStreams(kStreams);
  if (!error.IsError()) error = report.SendPhaseComplete(eStatus);
  if (!error.IsError()) error = report.SendJobComplete(eStatus);
  Outcome failure;
  if (error.IsError()) {
    failure = Failure{"cannot report the job", std::move(error), kExitFailed};
  } else if (g_nCancelSignal != 0) {
    failure = JobFailure(FX_CODE_LOCATION(kUnit), RkLocalPlatform::kCancelledResult,
                         "the job was cancelled");
  } else {
    failure = summary.Commit();
  }
  if (failure) {
    failure->strWhat = "cannot write the job summary " + strResultsPath + "/" + kSummaryFileName +
                       ": " + failure->strWhat;
    failure->error.Push(FX_CODE_LOCATION(kUnit));
    return failure;
  }
  std::printf("%s: sent job status %s\n", kProgram, EJobStatus::AsString(eStatus.Value()).c_str());
  return std::nullopt;
}

// The plain words first, then each frame of the error on a line of its own,
// from where it was made to where it was last passed on.
void PrintFailure(const Failure& failure) {
  std::fprintf(stderr, "%s: %s\n", kProgram, FXPrintableText(failure.strWhat).c_str());
  for (const FXErrorFrame& frame : FXErrorDetail::GetFrames(failure.error)) {
    std::fprintf(stderr, "    %s:%d %s%s%s\n", FXPrintableText(frame.strFile).c_str(), frame.nLine,
                 FXPrintableText(frame.strFunction).c_str(), frame.strMessage.empty() ? "" : ": ",
                 FXPrintableText(frame.strMessage).c_str());
  }
  if (failure.nStatus == kExitUsage) {
    std::fprintf(stderr, "Run '%s --help' for the usage.\n", kProgram);
  }
}

// The job manager cancelled the job with signal `nSignal`: the job report
// says so, and is not put in place.
int ReportCancelled(CJobReport& report, LONGLONG nJobId, int nSignal) {
  const EJobStatus eStatus(EJobStatus::KILLED);
  (void)report.SendJobComplete(eStatus);
  std::printf("%s: sent job status %s\n", kProgram, EJobStatus::AsString(eStatus.Value()).c_str());
  std::fprintf(stderr, "%s: job %lld cancelled by signal %d (%s); no summary is left\n", kProgram,
               nJobId, nSignal, ::strsignal(nSignal));
  return 128 + nSignal;
}

int RunJob(int argc, char** argv) {
  const CCommandLineArgumentsPtr pArgs = boost::make_shared<CLocalCommandLineArguments>(argc, argv);
  JobOptions options;
  CBackupJobClientPtr pJobClient;  // held until the job has been reported
  std::string strResultsPath;
  UniqueFd resultsDirectory;
  SummaryJobReport report(resultsDirectory, strResultsPath);
  const std::function<Outcome()> steps[] = {
      [&] { return ReadJobOptions(pArgs, options); },
      [&] { return CreateJobClient(options, pJobClient); },
      [&] { return MakeResultsDirectory(options, strResultsPath, resultsDirectory); },
      [&] { return ReportJob(report, strResultsPath); },
  };
  for (const auto& step : steps) {
    if (g_nCancelSignal != 0) return ReportCancelled(report, options.nJobId, g_nCancelSignal);
    if (Outcome failure = step()) {
      if (g_nCancelSignal != 0) return ReportCancelled(report, options.nJobId, g_nCancelSignal);
      PrintFailure(*failure);
      return failure->nStatus;
    }
  }
  return kExitDone;
}

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file the agent opens takes a standard descriptor's place (a summary on
// descriptor 1 would receive the trace). False when one cannot be opened.
bool FillClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int nOpened = ::open("/dev/null", O_RDWR);  // takes the lowest free number: fd
    if (nOpened != fd) return false;
  }
  return true;
}

// The job manager reads the trace, so a trace that did not reach stdout
// fails a job that was done.
int CheckTraceWritten(int nStatus) {
  const bool bFlushed = std::fflush(stdout) == 0;
  if (bFlushed && !std::ferror(stdout)) return nStatus;
  std::fprintf(stderr, "%s: cannot write the trace to stdout: %s\n", kProgram,
               bFlushed ? "an earlier write failed" : std::strerror(errno));
  return nStatus == kExitDone ? kExitFailed : nStatus;
}

int Run(int argc, char** argv) {
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
    std::fprintf(stderr, "%s: the job stopped on an exception: %s\n", kProgram,
                 FXPrintableText(exception.what()).c_str());
  }
  return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (!FillClosedStandardDescriptors()) return kExitFailed;
  // A reader of stdout that has gone is a write error to report, not a
  // signal that ends the job unreported.
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction cancel {};
  cancel.sa_handler = RecordCancel;
  sigemptyset(&cancel.sa_mask);
  for (const int nSignal : {SIGTERM, SIGINT})
    ::sigaction(nSignal, &cancel, nullptr);
  return CheckTraceWritten(Run(argc, argv));
}
