#include "CommonArguments.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DisplayTable.h"
#include "FXString.h"
#include "rkcast.h"
#include "shared/PrintableTextRule.h"

namespace {

constexpr char kUnit[] = "CommonArguments";

// Trailing run removed from names that the job manager may write as paths.
constexpr char kPathSeparators[] = "/\\";

// Reads option `pszName` into `value`. A missing option comes back as the
// command line's error with the accessor's `location` pushed onto it; an
// empty command line pointer is refused before anything is read.
CQiError ReadOption(const CCommandLineArgumentsPtr& pArgs, const char* pszName, std::string& value,
                    const FXCodeLocation& location) {
  if (!pArgs) {
    return FXErrorUtil::ErrorWin32(location, ERROR_INVALID_PARAMETER,
                                   "Command line arguments not given, Option=%s", pszName);
  }
  CQiError error = pArgs->GetOption(pszName, value);
  if (error.IsError()) return error.Push(location, "GetOption failed, Option=%s", pszName);
  return CQiError::Success();
}

// Whether flag `pszName` is present, whatever value follows it.
CQiError ReadFlag(const CCommandLineArgumentsPtr& pArgs, const char* pszName, bool& bSet,
                  const FXCodeLocation& location) {
  if (!pArgs) {
    return FXErrorUtil::ErrorWin32(location, ERROR_INVALID_PARAMETER,
                                   "Command line arguments not given, Option=%s", pszName);
  }
  bSet = !pArgs->GetOption(pszName).IsError();
  return CQiError::Success();
}

// strtoul with base 0, keeping the low 32 bits as the job manager's ids do.
ULONG ToUlong(const std::string& text) {
  return static_cast<ULONG>(std::strtoul(text.c_str(), nullptr, 0));
}

}  // namespace

// The command line is taken by value: that is the exported signature.
// NOLINTBEGIN(performance-unnecessary-value-param)

CQiError CArguments::GetApplicationId(CCommandLineArgumentsPtr pArgs, std::string& strApplicationId,
                                      ULONG& nZentCellId, ULONG& nApplicationNumber) {
  std::string value;
  CQiError error = ReadOption(pArgs, "a", value, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;

  std::vector<std::string> parts;
  (void)FXString::Split(value, ":", parts, 0);
  if (parts.size() != 2) {
    return FXErrorUtil::ErrorWin32(
        FX_CODE_LOCATION(kUnit), ERROR_NOT_FOUND,
        "ApplicationId invalid, expected <zentcell-id>:<application-number>, ApplicationId=%s",
        value.c_str());
  }
  strApplicationId = value;
  nZentCellId = ToUlong(parts[0]);
  nApplicationNumber = ToUlong(parts[1]);
  std::printf("ApplicationId=%s, ZentCellId=%u, ApplicationNumber=%u\n",
              FXPrintableText(strApplicationId).c_str(), nZentCellId, nApplicationNumber);
  return CQiError::Success();
}

CQiError CArguments::GetJobId(CCommandLineArgumentsPtr pArgs, LONGLONG& nJobId) {
  std::string value;
  CQiError error = ReadOption(pArgs, "j", value, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  nJobId = _strtoi64(value.c_str(), nullptr, 0);
  std::printf("JobId=%lld\n", rkcast::lld(nJobId));
  return CQiError::Success();
}

CQiError CArguments::GetClientName(CCommandLineArgumentsPtr pArgs, std::string& strClientName) {
  CQiError error = ReadOption(pArgs, "cn", strClientName, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  FXString::TrimRight(strClientName, kPathSeparators);
  std::printf("ClientName=%s\n", FXPrintableText(strClientName).c_str());
  return CQiError::Success();
}

CQiError CArguments::GetZentServeHostName(CCommandLineArgumentsPtr pArgs,
                                          std::string& strHostName) {
  CQiError error = ReadOption(pArgs, "qs", strHostName, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  std::printf("ZentServeHostName=%s\n", FXPrintableText(strHostName).c_str());
  return CQiError::Success();
}

CQiError CArguments::GetInstance(CCommandLineArgumentsPtr pArgs, std::string& strInstance) {
  strInstance.clear();
  CQiError error = ReadOption(pArgs, "vm", strInstance, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  std::printf("Instance=%s\n", FXPrintableText(strInstance).c_str());
  return CQiError::Success();
}

CQiError CArguments::GetJobManagerToken(CCommandLineArgumentsPtr pArgs, std::string& strToken) {
  CQiError error = ReadOption(pArgs, "jt", strToken, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  std::printf("JobManagerToken=%s\n", FXPrintableText(strToken).c_str());
  return CQiError::Success();
}

CQiError CArguments::GetStorenodeName(CCommandLineArgumentsPtr pArgs,
                                      std::string& strStorenodeName) {
  CQiError error = ReadOption(pArgs, "d", strStorenodeName, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  FXString::TrimRight(strStorenodeName, kPathSeparators);
  std::printf("StorenodeName=%s\n", FXPrintableText(strStorenodeName).c_str());
  return CQiError::Success();
}

CQiError CArguments::GetSnapBackupJobId(CCommandLineArgumentsPtr pArgs, LONGLONG& nSnapJobId) {
  std::string value;
  CQiError error = ReadOption(pArgs, "snapjid", value, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  nSnapJobId = _strtoi64(value.c_str(), nullptr, 0);
  std::printf("SnapBackupJobId=%lld\n", rkcast::lld(nSnapJobId));
  return CQiError::Success();
}

CQiError CArguments::GetSyntheticFull(CCommandLineArgumentsPtr pArgs, bool& bSyntheticFull) {
  CQiError error = ReadFlag(pArgs, "synthfull", bSyntheticFull, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  std::printf("SyntheticFull=%d\n", bSyntheticFull ? 1 : 0);
  return CQiError::Success();
}

CQiError CArguments::GetBlockLevelMetaInfo(CCommandLineArgumentsPtr pArgs,
                                           bool& bBlockLevelMetaInfo) {
  CQiError error = ReadFlag(pArgs, "MetaDataEnabled", bBlockLevelMetaInfo, FX_CODE_LOCATION(kUnit));
  if (error.IsError()) return error;
  std::printf("BlockLevelMetadata=%s\n", bBlockLevelMetaInfo ? "ON" : "OFF");
  return CQiError::Success();
}

// NOLINTEND(performance-unnecessary-value-param)

// Scan mode and reasons.

namespace {

// Not const: the renderer takes a mutable pointer, though nothing writes here.
#define UMX_BITS_ROW(name, value) {value, value, #name, L"" #name, nullptr},
_DISPLAY_BITS_INFO_TABLE s_dtScanModeReason[] = {
    UMX_SCAN_MODE_REASON_BITS(UMX_BITS_ROW)  // then the end row
    {0, 0, nullptr, nullptr, nullptr},
};
#undef UMX_BITS_ROW

}  // namespace

BScanModeReason::BScanModeReason() : m_value(0) {}

BScanModeReason::BScanModeReason(unsigned int nValue) : m_value(nValue) {}

BScanModeReason::~BScanModeReason() = default;

std::string BScanModeReason::AsString(unsigned int nValue) {
  return CDisplayBitsBase::AsString(s_dtScanModeReason, nValue);
}

std::wstring BScanModeReason::AsWstring(unsigned int nValue) {
  return CDisplayBitsBase::AsWstring(s_dtScanModeReason, nValue);
}
