#include "JobUtils.h"

#include "DisplayTable.h"

int InitializeUMXClientLibrary() { return 0; }

int InitializeUMXClientLibrary(boost::shared_ptr<CLogWriterInterface> /*pLogWriter*/) {
  return 0;
}

// Display enumerations and the job report.

namespace {

// Not const: the renderer takes a mutable pointer, though nothing writes here.
#define UMX_ENUM_ROW(name, value) {value, 0, #name, L"" #name, nullptr},
_DISPLAY_ENUM_INFO_TABLE s_dtJobStatus[] = {
    UMX_JOB_STATUS_VALUES(UMX_ENUM_ROW)
    {0, 0, nullptr, nullptr, nullptr},
};
_DISPLAY_ENUM_INFO_TABLE s_dtJobStatusFor[] = {
    UMX_JOB_STATUS_FOR_VALUES(UMX_ENUM_ROW)
    {0, 0, nullptr, nullptr, nullptr},
};
_DISPLAY_ENUM_INFO_TABLE s_dtScanType[] = {
    UMX_SCAN_TYPE_VALUES(UMX_ENUM_ROW)
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

CQiError CJobReport::SetNumberOfFilesInBackup(long long /*nFiles*/) {
  return CQiError::Success();
}

CQiError CJobReport::SetScanStatistics(unsigned int /*nStatistics*/) {
  return CQiError::Success();
}

CQiError CJobReport::SetNumberOfStreams(int /*nStreams*/) { return CQiError::Success(); }

CQiError CJobReport::SendJobComplete(EJobStatus /*eStatus*/) { return CQiError::Success(); }

CQiError CJobReport::SendPhaseComplete(EJobStatus /*eStatus*/) {
  return CQiError::Success();
}
