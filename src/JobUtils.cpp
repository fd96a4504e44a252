#include "JobUtils.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "DisplayTable.h"
#include "FXString.h"
#include "RkPlatform.h"
#include "rkcast.h"

int InitializeUMXClientLibrary() { return 0; }

// The sink is taken by value, as the exported signature has it, and dropped.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
int InitializeUMXClientLibrary(boost::shared_ptr<CLogWriterInterface> /*pLogWriter*/) { return 0; }

namespace CXJob {

namespace {

// Capacities the platform's directory texts never exceed, NUL included.
constexpr std::size_t kJobResultsBufferSize = 2048;
constexpr std::size_t kSubclientBufferSize = 1024;

// The job results directory of the process's focus client. `strClientName`
// only names the client in the failure message. `strDir` is emptied first,
// so it is empty after any failure.
CQiError GetJobResultsDir(const std::string& strClientName, LONGLONG /*nJobId*/,
                          std::string& strDir) {
  strDir.clear();
  RKPI_ZentClient platform;
  if (platform.invalidRKPlatform()) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("JobUtils"), ERROR_INVALID_PARAMETER,
                                   "Invalid platform");
  }
  // The directory buffer is zero-filled and terminated again before it is
  // read: a platform that writes no NUL cannot make us read past it. The
  // scratch buffers are never read, so they are left as allocated.
  auto pszDir = std::make_unique<char[]>(kJobResultsBufferSize);
  std::unique_ptr<char[]> pszScratch1(new char[kJobResultsBufferSize]);
  std::unique_ptr<char[]> pszScratch2(new char[kJobResultsBufferSize]);
  const char* pszFocusClient = RKPI_Focus::getFocusClientName(true);
  if (platform.getJobResultsDirectory(pszFocusClient, pszDir.get(), pszScratch1.get(),
                                      pszScratch2.get(), kJobResultsBufferSize) == 0) {
    return FXErrorUtil::ErrorWin32(
        FX_CODE_LOCATION("JobUtils"), ERROR_FUNCTION_FAILED,
        "Failed to get the location of the JobResults directory, VirtualMachineName=%s, "
        "error=%lu",
        strClientName.c_str(), rkcast::lu(platform.getLastError()));
  }
  pszDir[kJobResultsBufferSize - 1] = '\0';
  // Room for the components the job path adds, so they need no reallocation.
  const std::size_t nLength = std::strlen(pszDir.get());
  strDir.reserve(nLength + sizeof "/RK_JobResults/2/0/-9223372036854775808");
  strDir.assign(pszDir.get(), nLength);
  return CQiError::Success();
}

}  // namespace

CQiError SetFocusClientName(const std::string& strClientName) {
  RKPI_Focus::setFocusClientName(strClientName.c_str());
  return CQiError::Success();
}

CQiError GetServerName(std::string& strServerName) {
  RKPI_ZentClient platform;
  if (platform.invalidRKPlatform()) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("JobUtils"), ERROR_INVALID_PARAMETER,
                                   "Invalid platform");
  }
  const char* pszServerName = platform.getZentServerHostName();
  if (pszServerName == nullptr) {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("JobUtils"), ERROR_FUNCTION_FAILED,
                                   "Failed to get the Zent Server name, error=%lu",
                                   rkcast::lu(platform.getLastError()));
  }
  strServerName = pszServerName;
  return CQiError::Success();
}

CQiError GetFileSystemResultPathForJob(const std::string& strClientName, LONGLONG nJobId,
                                       std::string& strPath) {
  CQiError error = GetJobResultsDir(strClientName, nJobId, strPath);
  if (error.IsError()) return error.Push(FX_CODE_LOCATION("JobUtils"));

  // The components are fixed texts and numbers; an append's result tells the
  // caller nothing it could act on.
  (void)FXPath::Append(strPath, "RK_JobResults", 0);
  (void)FXPath::Append(strPath, FXString::Format("%u", 2u), 0);
  (void)FXPath::Append(strPath, "0", 0);
  (void)FXPath::Append(strPath, FXString::Format("%lld", rkcast::lld(nJobId)), 0);

  // Held for the call, so that the sink outlives the record. Without a sink
  // there is nowhere to write it.
  boost::shared_ptr<CLogWriterInterface> pLogWriter = g_ptrLogWriter;
  if (pLogWriter && pLogWriter->GetLogLevel() > 1) {
    pLogWriter->WriteLog(2, __PRETTY_FUNCTION__, __LINE__, nJobId, 0, "JobResultsPath=%s",
                         strPath.c_str());
  }
  return CQiError::Success();
}

CQiError GetFileSystemResultPathForJobFromApplicationId(const std::string& strApplicationId,
                                                        LONGLONG nJobId, std::string& strPath) {
  std::string strClientName;
  if (const char* pszFocusClient = RKPI_Focus::getFocusClientName(false)) {
    strClientName = pszFocusClient;
  } else {
    ApplicationId applicationId(strApplicationId);
    int nResult = applicationId.getApplicationId(nullptr);
    if (nResult != 0) {
      return FXErrorUtil::ErrorRKResult(FX_CODE_LOCATION("JobUtils"), nResult,
                                        "getApplicationId failed, ApplicationId=%s",
                                        strApplicationId.c_str());
    }
    // Owned by applicationId.
    RKPI_Client* pClient = applicationId.getClient(nullptr);
    if (pClient == nullptr) {
      return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("JobUtils"), ERROR_INVALID_PARAMETER,
                                     "getClient returned NULL");
    }
    nResult = pClient->getName(strClientName, 0);
    if (nResult != 0) {
      return FXErrorUtil::ErrorRKResult(FX_CODE_LOCATION("JobUtils"), nResult, "getName failed");
    }
  }
  return GetFileSystemResultPathForJob(strClientName, nJobId, strPath);
}

CQiError GetFileSystemResultPathForSubclient(ULONG nFirst, ULONG nSecond, std::string& strPath) {
  // Zero-filled and terminated again before it is read, as above.
  std::array<char, kSubclientBufferSize> szDir{};
  int nResult = GetSubclientDir(nFirst, nSecond, szDir.data());
  if (nResult != 0) {
    return FXErrorUtil::ErrorRKResult(FX_CODE_LOCATION("JobUtils"), nResult,
                                      "GetSubclientDir failed");
  }
  szDir.back() = '\0';
  strPath = szDir.data();
  return CQiError::Success();
}

}  // namespace CXJob

// Display enumerations and the job report.

namespace {

// Not const: the renderer takes a mutable pointer, though nothing writes here.
#define UMX_ENUM_ROW(name, value) {value, 0, #name, L"" #name, nullptr},
_DISPLAY_ENUM_INFO_TABLE s_dtJobStatus[] = {
    UMX_JOB_STATUS_VALUES(UMX_ENUM_ROW)  // then the end row
    {0, 0, nullptr, nullptr, nullptr},
};
_DISPLAY_ENUM_INFO_TABLE s_dtJobStatusFor[] = {
    UMX_JOB_STATUS_FOR_VALUES(UMX_ENUM_ROW)  // then the end row
    {0, 0, nullptr, nullptr, nullptr},
};
_DISPLAY_ENUM_INFO_TABLE s_dtScanType[] = {
    UMX_SCAN_TYPE_VALUES(UMX_ENUM_ROW)  // then the end row
    {0, 0, nullptr, nullptr, nullptr},
};
#undef UMX_ENUM_ROW

}  // namespace

EJobStatus::EJobStatus(ENUM eValue) : m_value(eValue) {}

EJobStatus::~EJobStatus() = default;

std::string EJobStatus::AsString(unsigned int nValue) {
  return CDisplayEnumBase::AsString(s_dtJobStatus, nValue);
}

std::wstring EJobStatus::AsWstring(unsigned int nValue) {
  return CDisplayEnumBase::AsWstring(s_dtJobStatus, nValue);
}

EJobStatusFor::EJobStatusFor(ENUM eValue) : m_value(eValue) {}

EJobStatusFor::~EJobStatusFor() = default;

std::string EJobStatusFor::AsString(unsigned int nValue) {
  return CDisplayEnumBase::AsString(s_dtJobStatusFor, nValue);
}

std::wstring EJobStatusFor::AsWstring(unsigned int nValue) {
  return CDisplayEnumBase::AsWstring(s_dtJobStatusFor, nValue);
}

EScanType::EScanType(ENUM eValue) : m_value(eValue) {}

EScanType::~EScanType() = default;

std::string EScanType::AsString(unsigned int nValue) {
  return CDisplayEnumBase::AsString(s_dtScanType, nValue);
}

std::wstring EScanType::AsWstring(unsigned int nValue) {
  return CDisplayEnumBase::AsWstring(s_dtScanType, nValue);
}

CJobReport::CJobReport() = default;

CJobReport::~CJobReport() = default;

CQiError CJobReport::SetNumberOfFilesInBackup(long long /*nFiles*/) { return CQiError::Success(); }

CQiError CJobReport::SetScanStatistics(unsigned int /*nStatistics*/) { return CQiError::Success(); }

CQiError CJobReport::SetNumberOfStreams(int /*nStreams*/) { return CQiError::Success(); }

// The statuses come by value, as the virtual signatures have them.
// NOLINTBEGIN(performance-unnecessary-value-param)
CQiError CJobReport::SendJobComplete(EJobStatus /*eStatus*/) { return CQiError::Success(); }

CQiError CJobReport::SendPhaseComplete(EJobStatus /*eStatus*/) { return CQiError::Success(); }
// NOLINTEND(performance-unnecessary-value-param)
