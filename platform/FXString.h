// String and path helpers of the utility services.
#pragma once

#include <string>
#include <vector>

#include "QiError.h"
#include "QiUtilsExport.h"

class QIUTILS_API FXString {
 public:
  // Replaces `parts` with the fields of `text` between occurrences of
  // `pszSeparator`. Empty fields count: "2:" gives "2" and "". An empty
  // separator is refused with ERROR_INVALID_PARAMETER and leaves `parts`
  // untouched.
  static CQiError Split(const std::string& text, const char* pszSeparator,
                        std::vector<std::string>& parts, unsigned int nFlags);

  // Removes the run of trailing characters that occur in `set`.
  static void TrimRight(std::string& text, const std::string& set);

  // printf formatting into a string of any length.
  static std::string Format(const char* pszFormat, ...) FX_PRINTF_FORMAT(1, 2);
};

class QIUTILS_API FXPath {
 public:
  // Appends `component` as the next element of `path` with exactly one "/"
  // at the joint; an empty path becomes the component itself.
  static CQiError Append(std::string& path, const std::string& component, unsigned int nFlags);
};
