// A ready log sink of the local utility library. Only the local stand-in has
// it; an agent built against the product installs a sink of its own.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>

#include "LogWriter.h"
#include "QiUtilsExport.h"

// One timestamped line per record
// whose level is at most the threshold, written to a stream or to a file it
// owns. One trailing line end of a message is dropped; control characters
// left in the message or the function's text are written as \xHH, so a
// record never spans lines. Final, so it is only ever destroyed as itself.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class QIUTILS_API CStreamLogWriter final : public CLogWriterInterface {
 public:
  CStreamLogWriter(std::FILE* pStream, int nLevel);
  // Appends to `pszPath`; a file that cannot be opened leaves IsOpen() false
  // and records are dropped.
  CStreamLogWriter(const char* pszPath, int nLevel);
  ~CStreamLogWriter();

  CStreamLogWriter(const CStreamLogWriter&) = delete;
  CStreamLogWriter& operator=(const CStreamLogWriter&) = delete;

  bool IsOpen() const { return m_pStream != nullptr; }

  void WriteLog(int nLevel, const char* pszFunction, int nLine, LONGLONG nJobId, int nContext,
                const char* pszFormat, ...) override FX_PRINTF_FORMAT(7, 8);
  int GetLogLevel() override;

 private:
  struct CloseFile {
    void operator()(std::FILE* pFile) const;
  };

  std::mutex m_mutex;                                    // one record at a time
  std::unique_ptr<std::FILE, CloseFile> m_pOwnedStream;  // a file this sink opened
  std::FILE* m_pStream;  // where records go; null when the file did not open
  int m_nLevel;
};
