// What the local utility library tells about an error beyond its code: where
// it was made, every place that passed it on, and the code it was made from.
// Only the local stand-in has this; code that must also run on the product's
// utility library reads GetCode() alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "QiError.h"
#include "QiUtilsExport.h"

// One step of an error's history: where it was made or pushed, and what was
// said there.
struct QIUTILS_API FXErrorFrame {
  std::string strFile;
  std::string strFunction;
  std::int32_t nLine;
  std::string strMessage;
};

// How an error's code was made.
enum class FXErrorKind : std::int32_t {
  None,      // success
  Win32,     // from a Windows error code
  RKResult,  // from a job platform result
};

class QIUTILS_API FXErrorDetail {
 public:
  // How the code was made, and the Windows code or platform result it was
  // made from (0 on success).
  static FXErrorKind GetKind(const CQiError& error);
  static std::int64_t GetOriginalCode(const CQiError& error);

  // Every frame, from the origin to the newest push; empty on success. Valid
  // while a copy of the error lives.
  static const std::vector<FXErrorFrame>& GetFrames(const CQiError& error);

  // The whole error on one line, for a log record or a message to a person.
  static std::string Format(const CQiError& error);
};
