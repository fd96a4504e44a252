#include "FXString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "FormatV.h"
#include "WinTypes.h"

namespace qiutils {

std::string FormatV(const char* pszFormat, va_list args) {
  if (pszFormat == nullptr) return std::string();
  // Most texts fit the stack buffer and are formatted once; a longer one is
  // formatted again at its measured length.
  char szShort[256];
  va_list again;
  va_copy(again, args);
  const int nLength = std::vsnprintf(szShort, sizeof szShort, pszFormat, args);
  std::string text;
  if (nLength > 0 && static_cast<std::size_t>(nLength) < sizeof szShort) {
    text.assign(szShort, static_cast<std::size_t>(nLength));
  } else if (nLength > 0) {
    text.resize(static_cast<std::size_t>(nLength));
    std::vsnprintf(text.data(), text.size() + 1, pszFormat, again);
  }
  va_end(again);
  return text;
}

}  // namespace qiutils

CQiError FXString::Split(const std::string& text, const char* pszSeparator,
                         std::vector<std::string>& parts, unsigned int /*nFlags*/) {
  if (pszSeparator == nullptr || *pszSeparator == '\0') {
    return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("FXString"), ERROR_INVALID_PARAMETER,
                                   "Split needs a non-empty separator");
  }
  const std::size_t nSeparator = std::strlen(pszSeparator);
  std::vector<std::string> fields;
  std::size_t nStart = 0;
  for (std::size_t nFound = text.find(pszSeparator, nStart, nSeparator);
       nFound != std::string::npos; nFound = text.find(pszSeparator, nStart, nSeparator)) {
    fields.push_back(text.substr(nStart, nFound - nStart));
    nStart = nFound + nSeparator;
  }
  fields.push_back(text.substr(nStart));
  parts.swap(fields);
  return CQiError::Success();
}

void FXString::TrimRight(std::string& text, const std::string& set) {
  const std::size_t nLast = text.find_last_not_of(set);
  text.erase(nLast == std::string::npos ? 0 : nLast + 1);
}

std::string FXString::Format(const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  std::string text = qiutils::FormatV(pszFormat, args);
  va_end(args);
  return text;
}

CQiError FXPath::Append(std::string& path, const std::string& component, unsigned int /*nFlags*/) {
  if (path.empty()) {
    path = component;
    return CQiError::Success();
  }
  const std::size_t nPathEnd = path.find_last_not_of('/');
  path.erase(nPathEnd == std::string::npos ? 0 : nPathEnd + 1);
  const std::size_t nComponentStart = component.find_first_not_of('/');
  path += '/';
  if (nComponentStart != std::string::npos) path.append(component, nComponentStart);
  return CQiError::Success();
}
