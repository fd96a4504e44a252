// The process log sink.
#pragma once

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
