/// \file
/// Library initialisation, the job's results locations, job status names and
/// the job report interface.
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "LogWriter.h"
#include "QiError.h"
#include "UMXClientExport.h"
#include "WinTypes.h"

/// Does nothing: the library is ready once loaded.
/// \return 0.
UMX_API int InitializeUMXClientLibrary();
/// Does nothing: the sink is neither installed nor kept (an agent installs
/// its sink by setting `g_ptrLogWriter`).
/// \return 0.
UMX_API int InitializeUMXClientLibrary(boost::shared_ptr<CLogWriterInterface> pLogWriter);

/// Where a job's results go, found through the job platform.
///
/// The operations throw nothing of their own: what the platform's calls throw
/// passes, and leaves the library as it was. A platform that cannot be used
/// is `ERROR_INVALID_PARAMETER` ("Invalid platform").
namespace CXJob {

/// Names the client on whose behalf job results are looked up, process-wide.
/// \return Success.
/// \throws ... What the platform's `setFocusClientName` throws.
UMX_API CQiError SetFocusClientName(const std::string& strClientName);

/// The central server's host name.
/// \param[out] strServerName The name; untouched on failure.
/// \return Success; `ERROR_FUNCTION_FAILED` when the platform has no name.
/// \throws ... What the platform's `getZentServerHostName` throws.
UMX_API CQiError GetServerName(std::string& strServerName);

/// `"<focus client's job results directory>/RK_JobResults/2/0/<job id>"`,
/// logged at level 2 when the log sink's level is above 1.
/// \param strClientName Named in the failure message only.
/// \param nJobId The job's id.
/// \param[out] strPath The path; empty on failure.
/// \return Success; `ERROR_FUNCTION_FAILED` when the platform gives no
///         results directory.
/// \throws ... What the platform's `getJobResultsDirectory` throws, and what
///         the log sink's `GetLogLevel` or `WriteLog` throws.
UMX_API CQiError GetFileSystemResultPathForJob(const std::string& strClientName, LONGLONG nJobId,
                                               std::string& strPath);

/// As GetFileSystemResultPathForJob(), for the focus client or, when none is
/// set, the client of application `strApplicationId` (`"<cell>:<number>"`).
/// \param strApplicationId The application, read only without a focus
///        client.
/// \param nJobId The job's id.
/// \param[out] strPath The path; untouched when the application cannot be
///        resolved, empty on a later failure.
/// \return As GetFileSystemResultPathForJob(); the platform's own result
///         when the application or its client's name cannot be had, and
///         `ERROR_INVALID_PARAMETER` when it gives no client.
/// \throws ... As GetFileSystemResultPathForJob(); without a focus client
///         also what the platform's `getApplicationId`, `getClient` and the
///         client's `getName` throw.
UMX_API CQiError GetFileSystemResultPathForJobFromApplicationId(const std::string& strApplicationId,
                                                                LONGLONG nJobId,
                                                                std::string& strPath);

/// The directory of a subclient, as the platform gives it.
/// \param nFirst The subclient's first number, as the platform's
///        `GetSubclientDir` takes it.
/// \param nSecond The subclient's second number.
/// \param[out] strPath The directory; untouched on failure.
/// \return Success, or the platform's own result.
/// \throws ... What the platform's `GetSubclientDir` throws.
UMX_API CQiError GetFileSystemResultPathForSubclient(ULONG nFirst, ULONG nSecond,
                                                     std::string& strPath);

}  // namespace CXJob

/// The job statuses, as `X(name, value)` for each.
#define UMX_JOB_STATUS_VALUES(X) \
  X(JOBSTATUS_ERROR, 0)          \
  X(JMSUCCESS, 1)                \
  X(FAIL, 2)                     \
  X(PARTIALSUCCESS, 3)           \
  X(KILLED, 4)                   \
  X(STSTOPPED, 5)                \
  X(STINTERRUPTED, 6)            \
  X(JMANYSTATUS, 7)              \
  X(STSKIPPED, 8)                \
  X(DROPPED, 9)                  \
  X(INSYNC, 10)                  \
  X(OUTOFSYNC, 11)               \
  X(NOTATTEMPTED, 12)            \
  X(RKJOBSTATUS_STARTED, 13)

/// What a status refers to, as `X(name, value)` for each.
#define UMX_JOB_STATUS_FOR_VALUES(X) \
  X(JOBSTATUSFOR_ERROR, 0)           \
  X(PHASE, 1)                        \
  X(JOB, 2)

/// The scan types, as `X(name, value)` for each.
#define UMX_SCAN_TYPE_VALUES(X) \
  X(SCAN_TYPE_UNKNOWN, 0)       \
  X(CHANGE_JOURNAL, 1)          \
  X(CLASSIC, 2)                 \
  X(MIXED, 3)

#define UMX_ENUMERATOR(name, value) name = value,

/// The status of a job or of one of its phases.
class UMX_API EJobStatus {
 public:
  /// The job statuses.
  enum ENUM : unsigned int { UMX_JOB_STATUS_VALUES(UMX_ENUMERATOR) };

  /// Implicit, so that an ENUM value is passed where this is taken.
  EJobStatus(ENUM eValue);
  ~EJobStatus();

  /// The value as given.
  ENUM Value() const { return m_value; }

  /// The name of status `nValue` (`"JMSUCCESS"`).
  static std::string AsString(unsigned int nValue);
  /// AsString() as a wide string.
  static std::wstring AsWstring(unsigned int nValue);

 private:
  ENUM m_value;
};

/// What a status refers to.
class UMX_API EJobStatusFor {
 public:
  /// What a status can refer to.
  enum ENUM : unsigned int { UMX_JOB_STATUS_FOR_VALUES(UMX_ENUMERATOR) };

  /// Implicit, so that an ENUM value is passed where this is taken.
  EJobStatusFor(ENUM eValue);
  ~EJobStatusFor();

  /// The value as given.
  ENUM Value() const { return m_value; }

  /// The name of status scope `nValue` (`"PHASE"`).
  static std::string AsString(unsigned int nValue);
  /// AsString() as a wide string.
  static std::wstring AsWstring(unsigned int nValue);

 private:
  ENUM m_value;
};

/// How a file scan finds its files. Numbered unlike the modes of
/// BScanModeReason: `CHANGE_JOURNAL` is 1 here, `MODE_CJ` is 2 there.
class UMX_API EScanType {
 public:
  /// The ways a scan can find its files.
  enum ENUM : unsigned int { UMX_SCAN_TYPE_VALUES(UMX_ENUMERATOR) };

  /// Implicit, so that an ENUM value is passed where this is taken.
  EScanType(ENUM eValue);
  ~EScanType();

  /// The value as given.
  ENUM Value() const { return m_value; }

  /// The name of scan type `nValue` (`"CHANGE_JOURNAL"`).
  static std::string AsString(unsigned int nValue);
  /// AsString() as a wide string.
  static std::wstring AsWstring(unsigned int nValue);

 private:
  ENUM m_value;
};

#undef UMX_ENUMERATOR

/// How an agent reports its job's progress and outcome. Every operation
/// accepts its call and returns success; an agent overrides what it reports
/// somewhere, and what its overrides throw is its own.
class UMX_API CJobReport {
 public:
  CJobReport();
  virtual ~CJobReport();

  /// The number of files the backup holds.
  virtual CQiError SetNumberOfFilesInBackup(long long nFiles);
  /// The scan's statistics.
  virtual CQiError SetScanStatistics(unsigned int nStatistics);
  /// The number of data streams the job uses.
  virtual CQiError SetNumberOfStreams(int nStreams);
  /// The job's outcome.
  virtual CQiError SendJobComplete(EJobStatus eStatus);
  /// The outcome of the job's current phase.
  virtual CQiError SendPhaseComplete(EJobStatus eStatus);
};
