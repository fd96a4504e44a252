/// \file
/// Reading the job's options from the agent's command line, and the scan mode
/// with the reasons that led to it.
#pragma once

#include <string>

#include "CommandLineArguments.h"
#include "QiError.h"
#include "UMXClientExport.h"
#include "WinTypes.h"

/// The job's options, as the job manager writes them on the agent's command
/// line.
///
/// Each accessor reads one option, converts and cleans its value, stores it
/// in the outputs, prints one trace line (`JobId=42`) to standard output and
/// returns success. The trace line shows each control character of a value
/// (bytes 0x00 to 0x1F and 0x7F) as <tt>\\xHH</tt>
/// (<tt>ClientName=a\\x0ab</tt>), so a read prints exactly one line; the
/// output holds the value itself.
///
/// A missing option is the command line's own error with the accessor's
/// location and `"GetOption failed, Option=<name>"` pushed onto it. An empty
/// command line pointer is refused with `ERROR_INVALID_PARAMETER`.
///
/// The accessors throw nothing of their own; what the command line throws,
/// and `std::bad_alloc`, pass.
///
/// <h3>How number options are read</h3>
/// As the job manager's numbers always have been: `-j` and `-snapjid` with
/// `strtoll` in base 0 (decimal, `0x` hexadecimal, a leading `0` octal, an
/// optional sign and leading blanks), `-a`'s two fields with `strtoul` in
/// base 0, keeping the low 32 bits. Each takes the longest prefix that is a
/// number and ignores the rest; a job id out of range saturates to the
/// largest or smallest 64-bit number; text with no number at all is 0. None
/// of this is an error: the accessor succeeds and traces what it read.
///
/// | Given                    | Read as                    |
/// |--------------------------|----------------------------|
/// | `-j 12ab`                | job 12                     |
/// | `-j 0x1f`                | job 31                     |
/// | `-j 99999999999999999999`| job 9223372036854775807    |
/// | `-j abc`                 | job 0                      |
/// | `-a 2:1x7`               | cell 2, application 1      |
///
/// An agent that must not run a job it was not given checks the whole text
/// itself before it asks: `strtoll` (or `strtoul`) in base 0 must read it to
/// its end, with `errno` not `ERANGE`, and within the range the option
/// allows.
namespace CArguments {

/// Option `-a`, `"<cell id>:<application number>"`: the whole text and both
/// numbers, each read by `strtoul` in base 0, low 32 bits. Traces
/// `ApplicationId=..., ZentCellId=..., ApplicationNumber=...`.
/// \param pArgs The agent's command line.
/// \param[out] strApplicationId The option's text.
/// \param[out] nZentCellId The first field's number.
/// \param[out] nApplicationNumber The second field's number.
/// \return Success; `ERROR_NOT_FOUND` when the text is not exactly two
///         fields. The outputs are untouched on failure.
UMX_API CQiError GetApplicationId(CCommandLineArgumentsPtr pArgs, std::string& strApplicationId,
                                  ULONG& nZentCellId, ULONG& nApplicationNumber);
/// Option `-j`, the job's id, read by `strtoll` in base 0. Traces `JobId=...`.
/// The output is untouched on failure.
UMX_API CQiError GetJobId(CCommandLineArgumentsPtr pArgs, LONGLONG& nJobId);
/// Option `-cn`, trailing slashes and backslashes removed. Traces
/// `ClientName=...`.
UMX_API CQiError GetClientName(CCommandLineArgumentsPtr pArgs, std::string& strClientName);
/// Option `-qs`, as given. Traces `ZentServeHostName=...`.
UMX_API CQiError GetZentServeHostName(CCommandLineArgumentsPtr pArgs, std::string& strHostName);
/// Option `-vm`. The output is emptied first, so it is empty on failure.
/// Traces `Instance=...`.
UMX_API CQiError GetInstance(CCommandLineArgumentsPtr pArgs, std::string& strInstance);
/// Option `-jt`, as given. Traces `JobManagerToken=...`.
UMX_API CQiError GetJobManagerToken(CCommandLineArgumentsPtr pArgs, std::string& strToken);
/// Option `-d`, trailing slashes and backslashes removed. Traces
/// `StorenodeName=...`.
UMX_API CQiError GetStorenodeName(CCommandLineArgumentsPtr pArgs, std::string& strStorenodeName);
/// Option `-snapjid`, read as GetJobId() reads `-j`. Traces
/// `SnapBackupJobId=...`.
UMX_API CQiError GetSnapBackupJobId(CCommandLineArgumentsPtr pArgs, LONGLONG& nSnapJobId);
/// Flag `-synthfull`: set when present, whatever its value. Traces
/// `SyntheticFull=0` or `1`. Fails only for an empty command line pointer.
UMX_API CQiError GetSyntheticFull(CCommandLineArgumentsPtr pArgs, bool& bSyntheticFull);
/// Flag `-MetaDataEnabled`: set when present, whatever its value. Traces
/// `BlockLevelMetadata=ON` or `OFF`. Fails only for an empty command line
/// pointer.
UMX_API CQiError GetBlockLevelMetaInfo(CCommandLineArgumentsPtr pArgs, bool& bBlockLevelMetaInfo);

}  // namespace CArguments

/// The scan mode's bits and names: the modes (bits 0-1) and the reasons that
/// led to them (bits 8-11), as `X(name, value)` for each.
#define UMX_SCAN_MODE_REASON_BITS(X) \
  X(MODE_CLASSIC, 0x1)               \
  X(MODE_CJ, 0x2)                    \
  X(MODE_MIXED, 0x3)                 \
  X(REASON_UNC_PATH, 0x100)          \
  X(REASON_CJ_NOT_SUPPORTED, 0x200)  \
  X(REASON_MOUNT_POINT, 0x400)       \
  X(REASON_FS_MIGRATOR, 0x800)

/// A file scan's mode (bits 0-1) with the reasons that led to it (bits
/// 8-11).
class UMX_API BScanModeReason {
 public:
#define UMX_BIT_CONSTANT(name, value) name = value,
  /// The modes and reasons, to be combined with `|`.
  enum : unsigned int { UMX_SCAN_MODE_REASON_BITS(UMX_BIT_CONSTANT) };
#undef UMX_BIT_CONSTANT

  /// No mode and no reason: 0.
  BScanModeReason();
  /// Any combination of the bits; implicit, as callers write `= 0x102`.
  BScanModeReason(unsigned int nValue);
  ~BScanModeReason();

  /// The bits as given.
  unsigned int Value() const { return m_value; }

  /// The names of the modes and reasons in `nValue`, joined by `|`
  /// (`"MODE_CJ|REASON_UNC_PATH"`).
  static std::string AsString(unsigned int nValue);
  /// AsString() as a wide string.
  static std::wstring AsWstring(unsigned int nValue);

 private:
  unsigned int m_value;
};
