#include "QiError.h"
#include "QiErrorDetail.h"

#include <cstdarg>
#include <utility>

#include <boost/make_shared.hpp>

#include "FXString.h"
#include "FormatV.h"
#include "WinTypes.h"

// The history behind an error value, shared by every copy of it.
class FXErrorPrivate {
 public:
  FXErrorPrivate(FXErrorKind eKind, std::int64_t nOriginalCode)
      : m_eKind(eKind), m_nOriginalCode(nOriginalCode) {}

  void AddFrame(const FXCodeLocation& location, std::string strMessage) {
    m_frames.push_back(FXErrorFrame{location.m_pszFile ? location.m_pszFile : "",
                                    location.m_pszFunction ? location.m_pszFunction : "",
                                    location.m_nLine, std::move(strMessage)});
  }

  FXErrorKind m_eKind;
  std::int64_t m_nOriginalCode;
  std::vector<FXErrorFrame> m_frames;
};

namespace {

std::int32_t HResultFromWin32(unsigned int dwCode) {
  return static_cast<std::int32_t>(0x80070000u | (dwCode & 0xFFFFu));
}

}  // namespace

CQiError::CQiError(std::int32_t nCode, boost::shared_ptr<FXErrorPrivate> record)
    : m_nCode(nCode), m_pRecord(std::move(record)) {}

CQiError& CQiError::Push(const FXCodeLocation& location) {
  if (m_pRecord) m_pRecord->AddFrame(location, std::string());
  return *this;
}

CQiError& CQiError::Push(const FXCodeLocation& location, const char* pszFormat, ...) {
  if (!m_pRecord) return *this;
  va_list args;
  va_start(args, pszFormat);
  std::string strMessage = qiutils::FormatV(pszFormat, args);
  va_end(args);
  m_pRecord->AddFrame(location, std::move(strMessage));
  return *this;
}

FXErrorKind FXErrorDetail::GetKind(const CQiError& error) {
  return error.m_pRecord ? error.m_pRecord->m_eKind : FXErrorKind::None;
}

std::int64_t FXErrorDetail::GetOriginalCode(const CQiError& error) {
  return error.m_pRecord ? error.m_pRecord->m_nOriginalCode : 0;
}

const std::vector<FXErrorFrame>& FXErrorDetail::GetFrames(const CQiError& error) {
  static const std::vector<FXErrorFrame> kNoFrames;
  return error.m_pRecord ? error.m_pRecord->m_frames : kNoFrames;
}

std::string FXErrorDetail::Format(const CQiError& error) {
  const FXErrorPrivate* pRecord = error.m_pRecord.get();
  if (pRecord == nullptr) return "success";
  const char* pszKind = pRecord->m_eKind == FXErrorKind::Win32 ? "Win32" : "RKResult";
  std::string text =
      FXString::Format("error 0x%08X (%s %lld)", static_cast<unsigned int>(error.m_nCode), pszKind,
                       static_cast<long long>(pRecord->m_nOriginalCode));
  // Newest frame first: each one was caused by the one after it.
  const char* pszJoint = ": ";
  for (auto it = pRecord->m_frames.rbegin(); it != pRecord->m_frames.rend(); ++it) {
    text += pszJoint;
    text += FXString::Format("%s:%s:%d", it->strFile.c_str(), it->strFunction.c_str(),
                             static_cast<int>(it->nLine));
    if (!it->strMessage.empty()) {
      text += ": ";
      text += it->strMessage;
    }
    pszJoint = " <- ";
  }
  return text;
}

CQiError FXErrorUtil::ErrorWin32(const FXCodeLocation& location, unsigned int dwCode,
                                 const char* pszFormat, ...) {
  auto record = boost::make_shared<FXErrorPrivate>(FXErrorKind::Win32, dwCode);
  va_list args;
  va_start(args, pszFormat);
  record->AddFrame(location, qiutils::FormatV(pszFormat, args));
  va_end(args);
  return CQiError(HResultFromWin32(dwCode), std::move(record));
}

CQiError FXErrorUtil::ErrorRKResult(const FXCodeLocation& location, int nResult,
                                    const char* pszFormat, ...) {
  // Negating a positive int cannot overflow; INT_MIN is already negative.
  const std::int32_t nCode = nResult < 0   ? nResult
                             : nResult > 0 ? -nResult
                                           : HResultFromWin32(ERROR_FUNCTION_FAILED);
  auto record = boost::make_shared<FXErrorPrivate>(FXErrorKind::RKResult, nResult);
  va_list args;
  va_start(args, pszFormat);
  record->AddFrame(location, qiutils::FormatV(pszFormat, args));
  va_end(args);
  return CQiError(nCode, std::move(record));
}
