#include "StreamLogWriter.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "FXString.h"
#include "FormatV.h"
#include "PrintableText.h"

namespace {

// "2024-05-17 13:04:05.123", local time.
std::string Timestamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char szDate[32];
  const std::size_t nLength = std::strftime(szDate, sizeof szDate, "%Y-%m-%d %H:%M:%S", &local);
  const int nMillis = static_cast<int>(now.tv_nsec / 1000000L) % 1000;
  return std::string(szDate, nLength) + FXString::Format(".%03d", nMillis);
}

}  // namespace

void CStreamLogWriter::CloseFile::operator()(std::FILE* pFile) const {
  std::fclose(pFile);  // NOLINT(cppcoreguidelines-owning-memory): the unique_ptr owns it
}

CStreamLogWriter::CStreamLogWriter(std::FILE* pStream, int nLevel)
    : m_pStream(pStream), m_nLevel(nLevel) {}

CStreamLogWriter::CStreamLogWriter(const char* pszPath, int nLevel)
    : m_pOwnedStream(pszPath ? std::fopen(pszPath, "a") : nullptr),
      m_pStream(m_pOwnedStream.get()),
      m_nLevel(nLevel) {}

// A stream the sink does not own is left open, with its records flushed.
CStreamLogWriter::~CStreamLogWriter() {
  if (m_pStream != nullptr) std::fflush(m_pStream);
}

void CStreamLogWriter::WriteLog(int nLevel, const char* pszFunction, int nLine, LONGLONG nJobId,
                                int nContext, const char* pszFormat, ...) {
  if (m_pStream == nullptr || nLevel > m_nLevel) return;
  va_list args;
  va_start(args, pszFormat);
  std::string strMessage = qiutils::FormatV(pszFormat, args);
  va_end(args);
  if (!strMessage.empty() && strMessage.back() == '\n') strMessage.pop_back();
  const std::string strFunction = FXPrintableText(pszFunction ? pszFunction : "(null)");
  strMessage = FXPrintableText(strMessage);

  const std::string strTime = Timestamp();
  std::lock_guard<std::mutex> lock(m_mutex);
  std::fprintf(m_pStream, "%s %d job=%lld ctx=%d %s:%d %s\n", strTime.c_str(), nLevel,
               static_cast<long long>(nJobId), nContext, strFunction.c_str(), nLine,
               strMessage.c_str());
  std::fflush(m_pStream);
}

int CStreamLogWriter::GetLogLevel() { return m_nLevel; }
