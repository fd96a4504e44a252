// Every operation the utility library's contract declares, doing the least.
#include "CommandLineArguments.h"
#include "DisplayTable.h"
#include "FXString.h"
#include "LogWriter.h"
#include "QiError.h"
#include "WinTypes.h"

boost::shared_ptr<CLogWriterInterface> g_ptrLogWriter;

CQiError::CQiError(std::int32_t nCode, boost::shared_ptr<FXErrorPrivate> record)
    : m_nCode(nCode), m_pRecord(record) {}
CQiError& CQiError::Push(const FXCodeLocation&) { return *this; }
CQiError& CQiError::Push(const FXCodeLocation&, const char*, ...) { return *this; }

CQiError FXErrorUtil::ErrorWin32(const FXCodeLocation&, unsigned int, const char*, ...) {
  return CQiError(-1, nullptr);
}
CQiError FXErrorUtil::ErrorRKResult(const FXCodeLocation&, int, const char*, ...) {
  return CQiError(-1, nullptr);
}

CQiError FXString::Split(const std::string&, const char*, std::vector<std::string>&, unsigned int) {
  return CQiError();
}
void FXString::TrimRight(std::string&, const std::string&) {}
std::string FXString::Format(const char*, ...) { return std::string(); }
CQiError FXPath::Append(std::string&, const std::string&, unsigned int) { return CQiError(); }

CCommandLineArguments::CCommandLineArguments() : m_reserved() {}
CCommandLineArguments::~CCommandLineArguments() = default;
CQiError CCommandLineArguments::GetOption(const char*) {
  return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("QiUtilsStub"), ERROR_NOT_FOUND, "absent");
}
CQiError CCommandLineArguments::GetOption(const char* pszName, std::string&) {
  return GetOption(pszName);
}

std::string CDisplayEnumBase::AsString(_DISPLAY_ENUM_INFO_TABLE*, unsigned int) { return {}; }
std::wstring CDisplayEnumBase::AsWstring(_DISPLAY_ENUM_INFO_TABLE*, unsigned int) { return {}; }
std::string CDisplayBitsBase::AsString(_DISPLAY_BITS_INFO_TABLE*, unsigned int) { return {}; }
std::wstring CDisplayBitsBase::AsWstring(_DISPLAY_BITS_INFO_TABLE*, unsigned int) { return {}; }
