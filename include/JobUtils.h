// Library initialisation, the job's results locations, job status names and
// the job report interface.
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "LogWriter.h"
#include "QiError.h"
#include "UMXClientExport.h"
#include "WinTypes.h"

// Both do nothing and return 0: the library is ready once loaded. The sink is
// neither installed nor kept.
UMX_API int InitializeUMXClientLibrary();
UMX_API int InitializeUMXClientLibrary(boost::shared_ptr<CLogWriterInterface> pLogWriter);

namespace CXJob {

// Names the client on whose behalf job results are looked up, process-wide.
UMX_API CQiError SetFocusClientName(const std::string& strClientName);

// The central server's host name. `strServerName` is untouched on failure.
UMX_API CQiError GetServerName(std::string& strServerName);

// "<focus client's job results directory>/RK_JobResults/2/0/<job id>". The
// client name only appears in the failure message; on failure the path is
// empty. Logged at level 2 when the sink's level is above 1.
UMX_API CQiError GetFileSystemResultPathForJob(const std::string& strClientName, LONGLONG nJobId,
                                               std::string& strPath);

// As GetFileSystemResultPathForJob, for the focus client or, when none is
// set, the client of application `strApplicationId` ("<cell>:<number>").
// `strPath` is untouched when the application cannot be resolved.
UMX_API CQiError GetFileSystemResultPathForJobFromApplicationId(const std::string& strApplicationId,
                                                                LONGLONG nJobId,
                                                                std::string& strPath);

// The directory of a subclient, as the platform gives it. `strPath` is
// untouched on failure.
UMX_API CQiError GetFileSystemResultPathForSubclient(ULONG nFirst, ULONG nSecond,
                                                     std::string& strPath);

}  // namespace CXJob

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

#define UMX_JOB_STATUS_FOR_VALUES(X) \
  X(JOBSTATUSFOR_ERROR, 0)           \
  X(PHASE, 1)                        \
  X(JOB, 2)

#define UMX_SCAN_TYPE_VALUES(X) \
  X(SCAN_TYPE_UNKNOWN, 0)       \
  X(CHANGE_JOURNAL, 1)          \
  X(CLASSIC, 2)                 \
  X(MIXED, 3)

#define UMX_ENUMERATOR(name, value) name = value,

// The status of a job or of one of its phases.
class UMX_API EJobStatus {
 public:
  enum ENUM : unsigned int { UMX_JOB_STATUS_VALUES(UMX_ENUMERATOR) };

  EJobStatus(ENUM eValue);
  ~EJobStatus();

  ENUM Value() const { return m_value; }

  static std::string AsString(unsigned int nValue);
  static std::wstring AsWstring(unsigned int nValue);

 private:
  ENUM m_value;
};

// What a status refers to.
class UMX_API EJobStatusFor {
 public:
  enum ENUM : unsigned int { UMX_JOB_STATUS_FOR_VALUES(UMX_ENUMERATOR) };

  EJobStatusFor(ENUM eValue);
  ~EJobStatusFor();

  ENUM Value() const { return m_value; }

  static std::string AsString(unsigned int nValue);
  static std::wstring AsWstring(unsigned int nValue);

 private:
  ENUM m_value;
};

// How a file scan finds its files. Numbered unlike the modes of
// BScanModeReason: CHANGE_JOURNAL is 1 here, MODE_CJ is 2 there.
class UMX_API EScanType {
 public:
  enum ENUM : unsigned int { UMX_SCAN_TYPE_VALUES(UMX_ENUMERATOR) };

  EScanType(ENUM eValue);
  ~EScanType();

  ENUM Value() const { return m_value; }

  static std::string AsString(unsigned int nValue);
  static std::wstring AsWstring(unsigned int nValue);

 private:
  ENUM m_value;
};

#undef UMX_ENUMERATOR

// How an agent reports its job's progress and outcome. Every operation
// accepts its call and returns success; an agent overrides what it reports
// somewhere.
class UMX_API CJobReport {
 public:
  CJobReport();
  virtual ~CJobReport();

  virtual CQiError SetNumberOfFilesInBackup(long long nFiles);
  virtual CQiError SetScanStatistics(unsigned int nStatistics);
  virtual CQiError SetNumberOfStreams(int nStreams);
  virtual CQiError SendJobComplete(EJobStatus eStatus);
  virtual CQiError SendPhaseComplete(EJobStatus eStatus);
};
