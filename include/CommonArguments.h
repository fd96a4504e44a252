// Reading the job's options from the agent's command line, and the scan mode
// with the reasons that led to it.
#pragma once

#include <string>

#include "CommandLineArguments.h"
#include "QiError.h"
#include "UMXClientExport.h"
#include "WinTypes.h"

// Each accessor reads one option, converts and cleans its value, stores it in
// the outputs, prints one trace line ("JobId=42") to standard output and
// returns success. The trace line shows each control character of a value
// as \xHH ("ClientName=a\x0ab"), so a read prints exactly one line; the
// output holds the value itself. A missing option is the command line's own
// error with the accessor's location and "GetOption failed, Option=<name>"
// pushed onto it.
// An empty command line pointer is refused with ERROR_INVALID_PARAMETER.
namespace CArguments {

// Option "a", "<cell id>:<application number>": the whole text and both
// numbers (strtoul, base 0, low 32 bits). Not exactly two fields is
// ERROR_NOT_FOUND. Outputs are untouched on failure.
UMX_API CQiError GetApplicationId(CCommandLineArgumentsPtr pArgs, std::string& strApplicationId,
                                  ULONG& nZentCellId, ULONG& nApplicationNumber);
// Option "j" (strtoll, base 0). Untouched on failure.
UMX_API CQiError GetJobId(CCommandLineArgumentsPtr pArgs, LONGLONG& nJobId);
// Option "cn", trailing slashes and backslashes removed.
UMX_API CQiError GetClientName(CCommandLineArgumentsPtr pArgs, std::string& strClientName);
// Option "qs", as given.
UMX_API CQiError GetZentServeHostName(CCommandLineArgumentsPtr pArgs, std::string& strHostName);
// Option "vm"; the output is emptied first, so it is empty on failure.
UMX_API CQiError GetInstance(CCommandLineArgumentsPtr pArgs, std::string& strInstance);
// Option "jt", as given.
UMX_API CQiError GetJobManagerToken(CCommandLineArgumentsPtr pArgs, std::string& strToken);
// Option "d", trailing slashes and backslashes removed.
UMX_API CQiError GetStorenodeName(CCommandLineArgumentsPtr pArgs, std::string& strStorenodeName);
// Option "snapjid", as GetJobId.
UMX_API CQiError GetSnapBackupJobId(CCommandLineArgumentsPtr pArgs, LONGLONG& nSnapJobId);
// Flag "synthfull": set when present, whatever its value. Never fails.
UMX_API CQiError GetSyntheticFull(CCommandLineArgumentsPtr pArgs, bool& bSyntheticFull);
// Flag "MetaDataEnabled": set when present, whatever its value. Never fails.
UMX_API CQiError GetBlockLevelMetaInfo(CCommandLineArgumentsPtr pArgs, bool& bBlockLevelMetaInfo);

}  // namespace CArguments

// The scan mode (bits 0-1) with the reasons that led to it (bits 8-11).
#define UMX_SCAN_MODE_REASON_BITS(X) \
  X(MODE_CLASSIC, 0x1)               \
  X(MODE_CJ, 0x2)                    \
  X(MODE_MIXED, 0x3)                 \
  X(REASON_UNC_PATH, 0x100)          \
  X(REASON_CJ_NOT_SUPPORTED, 0x200)  \
  X(REASON_MOUNT_POINT, 0x400)       \
  X(REASON_FS_MIGRATOR, 0x800)

class UMX_API BScanModeReason {
 public:
#define UMX_BIT_CONSTANT(name, value) name = value,
  enum : unsigned int { UMX_SCAN_MODE_REASON_BITS(UMX_BIT_CONSTANT) };
#undef UMX_BIT_CONSTANT

  BScanModeReason();
  BScanModeReason(unsigned int nValue);  // implicit, as callers write "= 0x102"
  ~BScanModeReason();

  unsigned int Value() const { return m_value; }

  // The names of the modes and reasons in `nValue`, joined by "|".
  static std::string AsString(unsigned int nValue);
  static std::wstring AsWstring(unsigned int nValue);

 private:
  unsigned int m_value;
};
