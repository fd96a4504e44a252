// The process log sink.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

#include <boost/shared_ptr.hpp>

#include "QiError.h"
#include "QiUtilsExport.h"

class QIUTILS_API CLogWriterInterface {
 public:
  virtual ~CLogWriterInterface();

  // One printf-style record: its level, the writing function's signature and
  // line, the job it concerns and a further numeric context.
  virtual void WriteLog(int nLevel, const char* pszFunction, int nLine, std::int64_t nJobId,
                        int nContext, const char* pszFormat, ...) FX_PRINTF_FORMAT(7, 8) = 0;
  // Records above this level are not worth writing.
  virtual int GetLogLevel() = 0;
};

// The process-wide sink; empty until the agent installs one.
extern QIUTILS_API boost::shared_ptr<CLogWriterInterface> g_ptrLogWriter;

// A ready sink: one timestamped line per record whose level is at most the
// threshold, written to a stream or to a file it owns. One trailing line end
// of a message is dropped; control characters left in the message or the
// function's text are written as \xHH, so a record never spans lines.
class QIUTILS_API CStreamLogWriter : public CLogWriterInterface {
 public:
  CStreamLogWriter(std::FILE* pStream, int nLevel);
  // Appends to `pszPath`; a file that cannot be opened leaves IsOpen() false
  // and records are dropped.
  CStreamLogWriter(const char* pszPath, int nLevel);
  ~CStreamLogWriter() override;

  CStreamLogWriter(const CStreamLogWriter&) = delete;
  CStreamLogWriter& operator=(const CStreamLogWriter&) = delete;

  bool IsOpen() const { return m_pStream != nullptr; }

  void WriteLog(int nLevel, const char* pszFunction, int nLine, std::int64_t nJobId, int nContext,
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
