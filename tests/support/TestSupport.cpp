#include "TestSupport.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "FXString.h"

namespace umx_test {

void RecordingLogWriter::WriteLog(int nLevel, const char* pszFunction, int nLine, LONGLONG nJobId,
                                  int nContext, const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  char buffer[4096];
  std::vsnprintf(buffer, sizeof buffer, pszFormat, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(mutex_);
  if (throw_) throw std::runtime_error("log sink failed");
  records_.push_back(
      {nLevel, pszFunction ? pszFunction : "", nLine, nJobId, nContext, pszFormat, buffer});
}

int RecordingLogWriter::GetLogLevel() {
  std::lock_guard<std::mutex> lock(mutex_);
  return level_;
}

void RecordingLogWriter::SetLevel(int level) {
  std::lock_guard<std::mutex> lock(mutex_);
  level_ = level;
}

void RecordingLogWriter::ThrowOnWrite(bool doThrow) {
  std::lock_guard<std::mutex> lock(mutex_);
  throw_ = doThrow;
}

std::vector<LogRecord> RecordingLogWriter::Records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

ScopedLogWriter::ScopedLogWriter(boost::shared_ptr<CLogWriterInterface> writer)
    : previous_(g_ptrLogWriter) {
  g_ptrLogWriter = std::move(writer);
}

ScopedLogWriter::~ScopedLogWriter() { g_ptrLogWriter = previous_; }

StdoutCapture::StdoutCapture() {
  char pattern[] = "/tmp/umx-stdout-XXXXXX";
  int fd = mkstemp(pattern);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  path_ = pattern;
  std::fflush(stdout);
  saved_fd_ = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

std::string StdoutCapture::Release() {
  if (saved_fd_ < 0) return std::string();
  std::fflush(stdout);
  dup2(saved_fd_, STDOUT_FILENO);
  close(saved_fd_);
  saved_fd_ = -1;
  std::ifstream in(path_);
  std::stringstream text;
  text << in.rdbuf();
  unlink(path_.c_str());
  return text.str();
}

StdoutCapture::~StdoutCapture() { (void)Release(); }

void Latch::CountDown() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--count_ == 0) cv_.notify_all();
}

void Latch::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return count_ <= 0; });
}

void Latch::ArriveAndWait() {
  CountDown();
  Wait();
}

long CurrentThreadId() { return ::syscall(SYS_gettid); }

bool SleepsOnAFutex(long nThreadId) {
  // The kernel function the thread sleeps in, or "0" while it runs.
  std::ifstream wchan("/proc/self/task/" + std::to_string(nThreadId) + "/wchan");
  std::string strFunction;
  return std::getline(wchan, strFunction) && strFunction.find("futex") != std::string::npos;
}

}  // namespace umx_test
