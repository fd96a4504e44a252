// Helpers shared by the tests: a log sink that keeps what it is given,
// capture of standard output, and thread coordination.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "LogWriter.h"

namespace umx_test {

struct LogRecord {
  int level;
  std::string function;
  int line;
  LONGLONG jobId;
  int context;
  std::string format;
  std::string message;  // the format filled in
};

// Keeps every record; answers GetLogLevel with a settable level. Optionally
// throws from WriteLog, for the paths that must survive a failing sink.
// Final, and made by make_shared, so only ever destroyed as itself.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class RecordingLogWriter final : public CLogWriterInterface {
 public:
  explicit RecordingLogWriter(int level = 0) : level_(level) {}

  void WriteLog(int nLevel, const char* pszFunction, int nLine, LONGLONG nJobId, int nContext,
                const char* pszFormat, ...) override FX_PRINTF_FORMAT(7, 8);
  int GetLogLevel() override;

  void SetLevel(int level);
  void ThrowOnWrite(bool doThrow);
  std::vector<LogRecord> Records() const;

 private:
  mutable std::mutex mutex_;
  int level_;
  bool throw_ = false;
  std::vector<LogRecord> records_;
};

// Installs a sink as g_ptrLogWriter for the life of the object and restores
// the previous one after.
class ScopedLogWriter {
 public:
  explicit ScopedLogWriter(boost::shared_ptr<CLogWriterInterface> writer);
  ~ScopedLogWriter();
  ScopedLogWriter(const ScopedLogWriter&) = delete;
  ScopedLogWriter& operator=(const ScopedLogWriter&) = delete;

 private:
  boost::shared_ptr<CLogWriterInterface> previous_;
};

// Everything the process writes to standard output (the file descriptor,
// printf included) between construction and Release().
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  std::string Release();

 private:
  int saved_fd_ = -1;
  std::string path_;
};

// A single-use countdown, as C++20's std::latch: Wait() returns once
// CountDown() has been called `count` times.
class Latch {
 public:
  explicit Latch(int count) : count_(count) {}
  Latch(const Latch&) = delete;
  Latch& operator=(const Latch&) = delete;

  void CountDown();
  void Wait();
  // A start gate: the threads that call this go on together.
  void ArriveAndWait();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int count_;
};

// The calling thread's kernel id.
long CurrentThreadId();

// Whether thread `nThreadId` of this process sleeps in the kernel waiting on
// a futex, as a thread blocked on a lock does; false while it runs, is about
// to run, or has ended.
bool SleepsOnAFutex(long nThreadId);

// Runs `f` on a new thread and returns its result, or rethrows what it threw.
template <typename F>
auto OnAnotherThread(F f) {
  return std::async(std::launch::async, f).get();
}

}  // namespace umx_test
