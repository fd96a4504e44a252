// Error values of the utility services: CQiError, its code locations and the
// constructors of new errors.
#pragma once

#include <cstdint>

#include <boost/shared_ptr.hpp>

#include "QiUtilsExport.h"

#define FX_PRINTF_FORMAT(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// A value the caller must not drop: [[nodiscard]] from C++17 on; before it,
// clang's own form of the same check, and nothing with gcc.
#if __cplusplus >= 201703L
#define FX_NODISCARD [[nodiscard]]
#elif defined(__clang__)
#define FX_NODISCARD [[clang::warn_unused_result]]
#else
#define FX_NODISCARD
#endif

// Where an error was made or passed on: the source unit's name without its
// extension, the enclosing function's full signature and the line. The texts
// are held, not copied: pass literals.
struct QIUTILS_API FXCodeLocation {
  FXCodeLocation(const char* pszFile, const char* pszFunction, int nLine)
      : m_pszFile(pszFile), m_pszFunction(pszFunction), m_nLine(nLine) {}

  const char* m_pszFile;
  const char* m_pszFunction;
  std::int32_t m_nLine;
};

// The location of the statement that expands it, in source unit `unit`.
#define FX_CODE_LOCATION(unit) ::FXCodeLocation((unit), __PRETTY_FUNCTION__, __LINE__)

class FXErrorPrivate;

// The result of a fallible operation: a signed 32-bit code, negative for an
// error, and a record shared by every copy of the value. Success carries no
// record and allocates nothing.
// (The visibility is spelt out: gcc takes no __attribute__ beside an
// attribute of the standard's form.)
class FX_NODISCARD [[gnu::visibility("default")]] CQiError {
 public:
  CQiError() = default;
  static CQiError Success() { return CQiError(); }

  bool IsError() const { return m_nCode < 0; }
  std::int32_t GetCode() const { return m_nCode; }

  // Adds a frame to the shared record and returns this same error. On a
  // success value nothing is recorded: success stays success.
  CQiError& Push(const FXCodeLocation& location);
  CQiError& Push(const FXCodeLocation& location, const char* pszFormat, ...) FX_PRINTF_FORMAT(3, 4);

 private:
  friend class FXErrorUtil;
  // Left open by the contract: who else may read the record. The local
  // utility library reads it through FXErrorDetail, which the product lacks.
  friend class FXErrorDetail;
  CQiError(std::int32_t nCode, boost::shared_ptr<FXErrorPrivate> record);

  std::int32_t m_nCode = 0;
  boost::shared_ptr<FXErrorPrivate> m_pRecord;
};

class QIUTILS_API FXErrorUtil {
 public:
  // HRESULT form of a Windows code: 0x80070000 | (dwCode & 0xFFFF). Always an
  // error, 0 included.
  static CQiError ErrorWin32(const FXCodeLocation& location, unsigned int dwCode,
                             const char* pszFormat, ...) FX_PRINTF_FORMAT(3, 4);

  // A job platform result: negative results are kept, positive ones negated,
  // and 0 (which the platform never fails with) becomes the HRESULT form of
  // ERROR_FUNCTION_FAILED, so the value is always an error.
  static CQiError ErrorRKResult(const FXCodeLocation& location, int nResult, const char* pszFormat,
                                ...) FX_PRINTF_FORMAT(3, 4);
};
