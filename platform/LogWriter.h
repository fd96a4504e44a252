// The process log sink.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

#include <boost/shared_ptr.hpp>

#include "QiError.h"
#include "QiUtilsExport.h"
#include "WinTypes.h"

// A sink's virtual table holds WriteLog and then GetLogLevel, nothing else. A
// sink is owned through boost::shared_ptr, which deletes it as the type it
// was made as; the protected destructor keeps it from being deleted through
// this interface.
class QIUTILS_API CLogWriterInterface {
 public:
  // One printf-style record: its level, the writing function's signature and
  // line, the job it concerns and a further numeric context.
  virtual void WriteLog(int nLevel, const char* pszFunction, int nLine, LONGLONG nJobId,
                        int nContext, const char* pszFormat, ...) FX_PRINTF_FORMAT(7, 8) = 0;
  // Records above this level are not worth writing.
  virtual int GetLogLevel() = 0;

 protected:
  CLogWriterInterface() = default;
  ~CLogWriterInterface() = default;
  CLogWriterInterface(const CLogWriterInterface&) = default;
  CLogWriterInterface& operator=(const CLogWriterInterface&) = default;
};

// The process-wide sink; empty until the agent installs one.
extern QIUTILS_API boost::shared_ptr<CLogWriterInterface> g_ptrLogWriter;

// A ready sink of the local utility library: one timestamped line per record
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
