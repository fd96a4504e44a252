#include "RkPlatformCall.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

#include "JsonText.h"
#include "PrintableText.h"
#include "RkLocalState.h"

namespace RkLocalPlatform {
namespace detail {
namespace {

// The file that kTranscriptVariable names, opened at the first record and
// held for the life of the process. Each record is one write of a whole
// line, made under the lock, so that lines of several threads never mix and
// the sequence numbers follow the file's order.
class Transcript {
 public:
  Transcript() {
    const char* pszPath = std::getenv(kTranscriptVariable);
    if (pszPath != nullptr) m_strPath = pszPath;
  }

  bool Kept() const { return !m_strPath.empty(); }

  void Append(const std::string& strRecord) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bOpened) {
      m_bOpened = true;
      m_fd = Open();
    }
    if (m_fd < 0) return;
    const std::string strLine = "{\"seq\":" + std::to_string(++m_nSequence) +
                                ",\"pid\":" + std::to_string(::getpid()) + "," + strRecord + "}\n";
    for (std::size_t nDone = 0; nDone < strLine.size();) {
      const ssize_t nWritten = ::write(m_fd, strLine.data() + nDone, strLine.size() - nDone);
      if (nWritten < 0 && errno == EINTR) continue;
      if (nWritten < 0) {
        Complain("write");
        m_fd = -1;  // the process goes on without its transcript
        return;
      }
      nDone += static_cast<std::size_t>(nWritten);
    }
  }

 private:
  // The transcript may be named by someone else's environment, so it is
  // never reached through a link, never a FIFO or device that could block
  // or leak, and never a file that another user owns or can change: each
  // of those is refused once, and the process goes on without it.
  int Open() const {
    const int fd =
        ::open(m_strPath.c_str(),
               O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
      Complain("open");
      return -1;
    }
    struct stat status {};
    const char* pszRefused = nullptr;
    if (::fstat(fd, &status) != 0) {
      pszRefused = std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
      pszRefused = "it is not a regular file";
    } else if (status.st_uid != ::geteuid()) {
      pszRefused = "it belongs to another user";
    } else if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      pszRefused = "others can write it";
    }
    if (pszRefused == nullptr) return fd;
    std::fprintf(stderr, "local platform: refusing the transcript %s: %s; going on without it\n",
                 FXPrintableText(m_strPath).c_str(), pszRefused);
    ::close(fd);
    return -1;
  }

  void Complain(const char* pszWhat) const {
    std::fprintf(stderr, "local platform: cannot %s the transcript %s: %s; going on without it\n",
                 pszWhat, FXPrintableText(m_strPath).c_str(), std::strerror(errno));
  }

  std::string m_strPath;
  std::mutex m_mutex;
  bool m_bOpened = false;
  int m_fd = -1;
  unsigned long long m_nSequence = 0;
};

Transcript& TheTranscript() {
  static NoDestructor<Transcript> transcript;
  return transcript.get();
}

// Blocks every signal in the calling thread for as long as it lives.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &m_previous);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t m_previous{};
};

}  // namespace

bool TranscriptKept() { return TheTranscript().Kept(); }

PlatformCall::~PlatformCall() {
  if (m_bKept && !m_bWritten && std::uncaught_exceptions() > m_nUncaught) {
    Write("threw", kNoResult, true, "\"an exception\"");
  }
}

PlatformCall& PlatformCall::OutText(const char* pszName, const char* pszText,
                                    std::size_t nCapacity) {
  if (!m_bKept) return *this;
  if (pszText == nullptr) return Field(m_strOut, pszName, "null");
  std::string member;
  AppendJsonTextMember(member, pszName, std::string_view(pszText, ::strnlen(pszText, nCapacity)));
  return Member(m_strOut, member);
}

bool PlatformCall::Begin() {
  if (!m_call) return false;
  auto [hold, bThrow] = WithState([this, call = *m_call](State& s) {
    std::optional<std::function<void()>> told;
    const auto held = s.settings.heldCalls.find(call);
    if (held != s.settings.heldCalls.end()) {
      told = std::move(held->second);
      s.settings.heldCalls.erase(held);
    }
    m_bTerminate = s.settings.terminatingCalls.erase(call) != 0;
    return std::make_pair(std::move(told), s.settings.throwingCalls.count(call) != 0);
  });
  if (hold) {
    SignalsBlocked blocked;  // a signal sent once the held line is out ends the wait
    if (m_bKept) TheTranscript().Append(Record("held", kNoResult, false, "null"));
    if (*hold) (*hold)();
    sigset_t none;
    sigemptyset(&none);
    sigsuspend(&none);
    return true;
  }
  if (bThrow) {
    const std::string strWhat = std::string("local platform: ") + m_pszName + " failed";
    if (m_bKept) {
      std::string thrown;
      AppendJsonText(thrown, strWhat);
      Write("threw", kNoResult, true, thrown);
    }
    throw std::runtime_error(strWhat);
  }
  return false;
}

PlatformCall& PlatformCall::Member(std::string& object, const std::string& member) {
  if (!m_bKept) return *this;
  if (!object.empty()) object += ',';
  object += member;
  return *this;
}

PlatformCall& PlatformCall::Field(std::string& object, const char* pszName,
                                  const std::string& json) {
  if (!m_bKept) return *this;
  std::string member;
  AppendJsonText(member, pszName);
  member += ':';
  member += json;
  return Member(object, member);
}

std::string PlatformCall::TextMember(const char* pszName, const char* pszText) const {
  if (!m_bKept) return {};
  std::string member;
  if (pszText == nullptr) {
    AppendJsonText(member, pszName);
    member += ":null";
  } else {
    AppendJsonTextMember(member, pszName, pszText);
  }
  return member;
}

std::string PlatformCall::Record(const char* pszState, const std::string& resultMember,
                                 bool bFailed, const std::string& thrown) const {
  std::string record = "\"call\":";
  AppendJsonText(record, m_pszName);
  record.append(",\"args\":{").append(m_strArgs).append("},\"state\":\"").append(pszState);
  record.append("\",").append(resultMember).append(",\"failed\":");
  record.append(bFailed ? "true" : "false").append(",\"lastError\":").append(m_strLastError);
  record.append(",\"thrown\":").append(thrown);
  if (!m_strLastErrorText.empty()) record.append(",").append(m_strLastErrorText);
  if (!m_strOut.empty()) record.append(",\"out\":{").append(m_strOut).append("}");
  return record;
}

void PlatformCall::Terminate() { ::raise(SIGTERM); }

void PlatformCall::Write(const char* pszState, const std::string& resultMember, bool bFailed,
                         const std::string& thrown) {
  m_bWritten = true;
  TheTranscript().Append(Record(pszState, resultMember, bFailed, thrown));
}

}  // namespace detail
}  // namespace RkLocalPlatform
