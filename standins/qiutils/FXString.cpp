#include "FXString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "FormatV.h"
#include "WinTypes.h"

namespace qiutils {

std::string FormatV(const char* pszFormat, va_list args) {
  if (pszFormat == nullptr) return std::string();
  va_list measure;
  va_copy(measure, args);
  const int nLength = std::vsnprintf(nullptr, 0, pszFormat, measure);
  va_end(measure);
  if (nLength <= 0) return std::string();
  std::string text(static_cast<std::size_t>(nLength), '\0');
  std::vsnprintf(text.data(), text.size() + 1, pszFormat, args);
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
