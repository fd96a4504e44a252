// umx-agent-interposer.so, preloaded into an agent by the agent check: it
// counts the agent's changes to the file system, so that the check can kill
// the agent just before each one in turn and judge what it leaves behind.
//
//   UMX_CHANGES_LOG=PATH  appends "CALL PATH\n" to PATH for each change: CALL
//                         the function's name, PATH the file's absolute path
//                         as far as known, else "?" (the source of a rename
//                         or hard link, the new name of a symbolic link),
//                         with backslash as "\\" and bytes below 0x20 and
//                         0x7f as "\xNN"
//   UMX_CRASH_AT=N        kills the process with SIGKILL just before its
//                         N-th change (from 1), which is neither made nor
//                         logged
//
// Both are read when the module loads and removed from the environment, so
// that only the process the check started counts: neither the programs it
// runs (which load the module again) nor the children it forks. With
// neither, every call passes straight through.
//
// A change is a call of a function below that makes, writes, truncates,
// renames, links or removes a file or folder, counted before it is passed
// on, whether it then succeeds or not. Opens count when they create or
// truncate; fclose and fflush count when the stream holds output that the
// call writes out (writable, __fpending > 0). Writes go uncounted to anything
// but a regular file, and to the files that were stdout and stderr at load,
// the local platform's transcript and the log itself.
//
// Not seen: static binaries; raw system calls; whatever libc does through
// its own internal calls (a stream's buffer written out when it fills, at
// exit or by fflush(NULL); files that mkstemp or tmpfile make); and the
// changes of child processes.
#undef _FORTIFY_SOURCE
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

// The checked entries a fortified build calls in place of open and openat.
extern "C" {
int __open_2(const char* pszPath, int nFlags);
int __open64_2(const char* pszPath, int nFlags);
int __openat_2(int nDirFd, const char* pszPath, int nFlags);
int __openat64_2(int nDirFd, const char* pszPath, int nFlags);
}

namespace {

constexpr std::size_t kPathBuffer = PATH_MAX * 2;

struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool known = false;
  bool Is(const struct stat& info) const {
    return known && info.st_dev == dev && info.st_ino == ino;
  }
};

// Set by Start before g_bActive is published, then only read.
pid_t g_pid = 0;
unsigned long g_nCrashAt = 0;  // 0: never
FileId g_logId, g_stdoutId, g_stderrId;
char g_szTranscript[kPathBuffer];  // absolute; empty when unset

std::atomic<bool> g_bActive{false};
std::atomic<int> g_logFd{-1};
// The transcript may not exist yet at load; its id is filled in when seen.
std::atomic<bool> g_bTranscriptKnown{false};
std::atomic<std::uint64_t> g_transcriptDev{0}, g_transcriptIno{0};

// Changes are numbered by ticket and logged in ticket order, so that the log
// of a run killed at change N holds exactly changes 1 to N-1.
std::atomic<unsigned long> g_nTaken{0}, g_nDone{0};
// Set while this thread holds a ticket: a signal handler's calls then pass
// through uncounted rather than wait for the ticket they interrupted.
thread_local bool tls_bCounting __attribute__((tls_model("initial-exec"))) = false;

class ErrnoKeeper {
 public:
  ErrnoKeeper() : m_nSaved(errno) {}
  ~ErrnoKeeper() { errno = m_nSaved; }
  ErrnoKeeper(const ErrnoKeeper&) = delete;
  ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

 private:
  int m_nSaved;
};

// The definition that the wrapper kSelf passes its calls on to, looked up
// until found and then kept.
template <auto kSelf>
decltype(kSelf) Next(const char* pszName) {
  static std::atomic<void*> s_pNext{nullptr};
  void* pNext = s_pNext.load(std::memory_order_acquire);
  if (pNext == nullptr) {
    const ErrnoKeeper keeper;
    pNext = ::dlsym(RTLD_NEXT, pszName);
    s_pNext.store(pNext, std::memory_order_release);
  }
  return reinterpret_cast<decltype(kSelf)>(pNext);
}
#define UMX_NEXT(name) Next<&::name>(#name)

// What a wrapper returns when there is nothing to pass its call on to.
template <typename R>
R Missing() {
  errno = ENOSYS;
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return static_cast<R>(-1);
  }
}

// Counting applies to the process the check started, not to its forks.
bool Active() { return g_bActive.load(std::memory_order_acquire) && ::getpid() == g_pid; }

[[noreturn]] void Die() {
  ::syscall(SYS_kill, ::getpid(), SIGKILL);
  // Not reached unless the kill was refused; the change is not made either way.
  ::syscall(SYS_exit_group, 128 + SIGKILL);
  __builtin_unreachable();
}

// Copies at most `nCap - 1` bytes of `psz` to `pszOut` at `nAt`, which it
// returns moved on.
std::size_t Put(char* pszOut, std::size_t nCap, std::size_t nAt, const char* psz) {
  while (*psz != '\0' && nAt + 1 < nCap)
    pszOut[nAt++] = *psz++;
  pszOut[nAt] = '\0';
  return nAt;
}

// The path of the file open as `fd`, from /proc.
bool FdPath(int fd, char* pszOut, std::size_t nCap) {
  char szLink[32] = "/proc/self/fd/";
  char szDigits[12];
  std::size_t nDigits = 0;
  unsigned int nValue = static_cast<unsigned int>(fd);
  do {
    szDigits[nDigits++] = static_cast<char>('0' + nValue % 10);
    nValue /= 10;
  } while (nValue != 0);
  std::size_t nAt = std::strlen(szLink);
  while (nDigits > 0)
    szLink[nAt++] = szDigits[--nDigits];
  szLink[nAt] = '\0';
  const ssize_t nLength = ::readlink(szLink, pszOut, nCap - 1);
  if (nLength <= 0) return false;
  pszOut[nLength] = '\0';
  return true;
}

// The absolute form of `pszPath`, relative to the folder open as `nDirFd`
// or to the working folder, truncated to fit.
bool AbsolutePath(int nDirFd, const char* pszPath, char* pszOut, std::size_t nCap) {
  if (pszPath == nullptr) return false;
  if (pszPath[0] == '/') {
    Put(pszOut, nCap, 0, pszPath);
    return true;
  }
  const bool bBase =
      nDirFd == AT_FDCWD ? ::getcwd(pszOut, nCap) != nullptr : FdPath(nDirFd, pszOut, nCap);
  if (!bBase) return false;
  if (pszPath[0] == '\0') return true;
  std::size_t nAt = std::strlen(pszOut);
  if (nAt == 0 || pszOut[nAt - 1] != '/') nAt = Put(pszOut, nCap, nAt, "/");
  Put(pszOut, nCap, nAt, pszPath);
  return true;
}

// The file a change is made to: the one open as `fd`, or `pszPath` relative
// to the folder open as `fd` (AT_FDCWD: the working folder).
struct Target {
  int fd;
  const char* pszPath;
  bool bByFd;
};
Target OfFd(int fd) { return {fd, nullptr, true}; }
Target At(int nDirFd, const char* pszPath) { return {nDirFd, pszPath, false}; }
Target Named(const char* pszPath) { return {AT_FDCWD, pszPath, false}; }

bool Resolve(const Target& target, char* pszOut, std::size_t nCap) {
  return target.bByFd ? FdPath(target.fd, pszOut, nCap)
                      : AbsolutePath(target.fd, target.pszPath, pszOut, nCap);
}

// "CALL PATH\n" into `pszLine`, its length returned; the path escaped and
// cut short, never inside an escape, where the line would not fit.
std::size_t FormatLine(const char* pszCall, const Target& target, char* pszLine, std::size_t nCap) {
  char szPath[kPathBuffer];
  if (!Resolve(target, szPath, sizeof szPath)) Put(szPath, sizeof szPath, 0, "?");
  std::size_t nAt = Put(pszLine, nCap, 0, pszCall);
  nAt = Put(pszLine, nCap, nAt, " ");
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char* p = szPath; *p != '\0' && nAt + 5 < nCap; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\\') {
      pszLine[nAt++] = '\\';
      pszLine[nAt++] = '\\';
    } else if (c < 0x20 || c == 0x7f) {
      pszLine[nAt++] = '\\';
      pszLine[nAt++] = 'x';
      pszLine[nAt++] = kHex[c >> 4];
      pszLine[nAt++] = kHex[c & 0xf];
    } else {
      pszLine[nAt++] = static_cast<char>(c);
    }
  }
  pszLine[nAt++] = '\n';
  return nAt;
}

// Appends a line to the log, unless its descriptor has been closed or now
// names another file: the agent's own files are never written to.
void Append(const char* pszLine, std::size_t nLength) {
  const int fd = g_logFd.load(std::memory_order_relaxed);
  struct stat info {};
  if (fd < 0) return;
  if (::fstat(fd, &info) != 0 || !g_logId.Is(info)) {
    g_logFd.store(-1, std::memory_order_relaxed);
    return;
  }
  while (nLength > 0) {
    const long nWritten = ::syscall(SYS_write, fd, pszLine, nLength);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten <= 0) return;
    pszLine += nWritten;
    nLength -= static_cast<std::size_t>(nWritten);
  }
}

// Counts one change, or dies instead where it is the change to stop at.
void Count(const char* pszCall, const Target& target) {
  if (tls_bCounting) return;
  tls_bCounting = true;
  char szLine[kPathBuffer];
  const bool bLog = g_logFd.load(std::memory_order_relaxed) >= 0;
  const std::size_t nLine = bLog ? FormatLine(pszCall, target, szLine, sizeof szLine) : 0;
  const unsigned long nTicket = g_nTaken.fetch_add(1, std::memory_order_acq_rel) + 1;
  while (g_nDone.load(std::memory_order_acquire) != nTicket - 1)
    ::sched_yield();
  if (nTicket == g_nCrashAt) Die();
  if (nLine > 0) Append(szLine, nLine);
  g_nDone.store(nTicket, std::memory_order_release);
  tls_bCounting = false;
}

bool IsTranscript(const struct stat& info) {
  if (!g_bTranscriptKnown.load(std::memory_order_acquire)) {
    struct stat transcript {};
    if (g_szTranscript[0] == '\0' || ::stat(g_szTranscript, &transcript) != 0) return false;
    g_transcriptDev.store(transcript.st_dev, std::memory_order_relaxed);
    g_transcriptIno.store(transcript.st_ino, std::memory_order_relaxed);
    g_bTranscriptKnown.store(true, std::memory_order_release);
  }
  return info.st_dev == g_transcriptDev.load(std::memory_order_relaxed) &&
         info.st_ino == g_transcriptIno.load(std::memory_order_relaxed);
}

// Whether writing to the file `info` describes is a change.
bool Counted(const struct stat& info) {
  return S_ISREG(info.st_mode) && !g_stdoutId.Is(info) && !g_stderrId.Is(info) &&
         !g_logId.Is(info) && !IsTranscript(info);
}

// Whether opening `pszPath` to create or truncate it is a change: it is a
// regular file that counts, or not there yet and not the transcript.
bool OpenCounted(int nDirFd, const char* pszPath) {
  struct stat info {};
  if (pszPath != nullptr && ::fstatat(nDirFd, pszPath, &info, 0) == 0) return Counted(info);
  if (g_szTranscript[0] == '\0') return true;
  char szPath[kPathBuffer];
  return !AbsolutePath(nDirFd, pszPath, szPath, sizeof szPath) ||
         std::strcmp(szPath, g_szTranscript) != 0;
}

// A call that names a path changes something only where the path is there
// (a rename, an unlink, a link's source) or, for a mkdir or a new link, is
// not: a mkdir of a folder that exists, as a walk down from "/" makes, is
// no change, and no crash point.
enum class Needs { Present, Absent };

void CountPath(const char* pszCall, const Target& target, Needs needs = Needs::Present) {
  if (!Active()) return;
  const ErrnoKeeper keeper;
  struct stat info {};
  const bool bPresent = target.pszPath != nullptr &&
                        ::fstatat(target.fd, target.pszPath, &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (bPresent == (needs == Needs::Present)) Count(pszCall, target);
}

void CountOpen(const char* pszCall, int nDirFd, const char* pszPath) {
  if (!Active()) return;
  const ErrnoKeeper keeper;
  if (OpenCounted(nDirFd, pszPath)) Count(pszCall, At(nDirFd, pszPath));
}

void CountOpenFlags(const char* pszCall, int nDirFd, const char* pszPath, int nFlags) {
  if ((nFlags & (O_CREAT | O_TRUNC)) != 0) CountOpen(pszCall, nDirFd, pszPath);
}

void CountFd(const char* pszCall, int fd) {
  if (!Active()) return;
  const ErrnoKeeper keeper;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && Counted(info)) Count(pszCall, OfFd(fd));
}

void CountStream(const char* pszCall, FILE* pStream) {
  if (pStream == nullptr || !Active()) return;
  const ErrnoKeeper keeper;
  if (__fwritable(pStream) != 0 && __fpending(pStream) > 0) CountFd(pszCall, ::fileno(pStream));
}

bool WritesMode(const char* pszMode) {
  return pszMode != nullptr && (pszMode[0] == 'w' || pszMode[0] == 'a');
}

bool TakesMode(int nFlags) { return (nFlags & O_CREAT) != 0 || (nFlags & O_TMPFILE) == O_TMPFILE; }

// The identity of the file open as `fd`, when it is a regular file.
FileId RegularFileId(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return {info.st_dev, info.st_ino, true};
}

// UMX_CRASH_AT as a number from 1, or 0 when unset or not one.
unsigned long ParseCrashAt(const char* psz) {
  if (psz == nullptr || *psz == '\0') return 0;
  unsigned long nValue = 0;
  for (; *psz != '\0'; ++psz) {
    if (*psz < '0' || *psz > '9') return 0;
    const auto nDigit = static_cast<unsigned long>(*psz - '0');
    if (nValue > (static_cast<unsigned long>(-1) - nDigit) / 10) return 0;
    nValue = nValue * 10 + nDigit;
  }
  return nValue;
}

__attribute__((constructor)) void Start() {
  const ErrnoKeeper keeper;
  const char* pszLog = std::getenv("UMX_CHANGES_LOG");
  const char* pszCrashAt = std::getenv("UMX_CRASH_AT");
  if (pszLog == nullptr && pszCrashAt == nullptr) return;
  g_nCrashAt = ParseCrashAt(pszCrashAt);
  if (pszLog != nullptr) {
    const long fd = ::syscall(SYS_openat, AT_FDCWD, pszLog,
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      g_logId = RegularFileId(static_cast<int>(fd));
      g_logFd.store(static_cast<int>(fd), std::memory_order_relaxed);
    }
  }
  g_stdoutId = RegularFileId(STDOUT_FILENO);
  g_stderrId = RegularFileId(STDERR_FILENO);
  const char* pszTranscript = std::getenv("RK_LOCAL_PLATFORM_TRANSCRIPT");
  if (pszTranscript != nullptr && pszTranscript[0] != '\0' &&
      !AbsolutePath(AT_FDCWD, pszTranscript, g_szTranscript, sizeof g_szTranscript))
    g_szTranscript[0] = '\0';
  ::unsetenv("UMX_CHANGES_LOG");
  ::unsetenv("UMX_CRASH_AT");
  g_pid = ::getpid();
  g_bActive.store(true, std::memory_order_release);
}

}  // namespace

#define UMX_WRAPPER extern "C" __attribute__((visibility("default")))

// Opens: a change when they create or truncate. The mode is read only where
// the flags say it was passed.

UMX_WRAPPER int open(const char* pszPath, int nFlags, ...) {
  va_list args;
  va_start(args, nFlags);
  const mode_t nMode = TakesMode(nFlags) ? static_cast<mode_t>(va_arg(args, unsigned int)) : 0;
  va_end(args);
  const auto next = UMX_NEXT(open);
  if (next == nullptr) return Missing<int>();
  CountOpenFlags("open", AT_FDCWD, pszPath, nFlags);
  return next(pszPath, nFlags, nMode);
}

UMX_WRAPPER int open64(const char* pszPath, int nFlags, ...) {
  va_list args;
  va_start(args, nFlags);
  const mode_t nMode = TakesMode(nFlags) ? static_cast<mode_t>(va_arg(args, unsigned int)) : 0;
  va_end(args);
  const auto next = UMX_NEXT(open64);
  if (next == nullptr) return Missing<int>();
  CountOpenFlags("open64", AT_FDCWD, pszPath, nFlags);
  return next(pszPath, nFlags, nMode);
}

UMX_WRAPPER int openat(int nDirFd, const char* pszPath, int nFlags, ...) {
  va_list args;
  va_start(args, nFlags);
  const mode_t nMode = TakesMode(nFlags) ? static_cast<mode_t>(va_arg(args, unsigned int)) : 0;
  va_end(args);
  const auto next = UMX_NEXT(openat);
  if (next == nullptr) return Missing<int>();
  CountOpenFlags("openat", nDirFd, pszPath, nFlags);
  return next(nDirFd, pszPath, nFlags, nMode);
}

UMX_WRAPPER int openat64(int nDirFd, const char* pszPath, int nFlags, ...) {
  va_list args;
  va_start(args, nFlags);
  const mode_t nMode = TakesMode(nFlags) ? static_cast<mode_t>(va_arg(args, unsigned int)) : 0;
  va_end(args);
  const auto next = UMX_NEXT(openat64);
  if (next == nullptr) return Missing<int>();
  CountOpenFlags("openat64", nDirFd, pszPath, nFlags);
  return next(nDirFd, pszPath, nFlags, nMode);
}

UMX_WRAPPER int __open_2(const char* pszPath, int nFlags) {
  const auto next = UMX_NEXT(__open_2);
  if (next == nullptr) return Missing<int>();
  CountOpenFlags("__open_2", AT_FDCWD, pszPath, nFlags);
  return next(pszPath, nFlags);
}

UMX_WRAPPER int __open64_2(const char* pszPath, int nFlags) {
  const auto next = UMX_NEXT(__open64_2);
  if (next == nullptr) return Missing<int>();
  CountOpenFlags("__open64_2", AT_FDCWD, pszPath, nFlags);
  return next(pszPath, nFlags);
}

UMX_WRAPPER int __openat_2(int nDirFd, const char* pszPath, int nFlags) {
  const auto next = UMX_NEXT(__openat_2);
  if (next == nullptr) return Missing<int>();
  CountOpenFlags("__openat_2", nDirFd, pszPath, nFlags);
  return next(nDirFd, pszPath, nFlags);
}

UMX_WRAPPER int __openat64_2(int nDirFd, const char* pszPath, int nFlags) {
  const auto next = UMX_NEXT(__openat64_2);
  if (next == nullptr) return Missing<int>();
  CountOpenFlags("__openat64_2", nDirFd, pszPath, nFlags);
  return next(nDirFd, pszPath, nFlags);
}

UMX_WRAPPER int creat(const char* pszPath, mode_t nMode) {
  const auto next = UMX_NEXT(creat);
  if (next == nullptr) return Missing<int>();
  CountOpen("creat", AT_FDCWD, pszPath);
  return next(pszPath, nMode);
}

UMX_WRAPPER int creat64(const char* pszPath, mode_t nMode) {
  const auto next = UMX_NEXT(creat64);
  if (next == nullptr) return Missing<int>();
  CountOpen("creat64", AT_FDCWD, pszPath);
  return next(pszPath, nMode);
}

// Streams: opening one to write or append is a change; its buffered output
// is one when fclose or fflush writes it out.

UMX_WRAPPER FILE* fopen(const char* pszPath, const char* pszMode) {
  const auto next = UMX_NEXT(fopen);
  if (next == nullptr) return Missing<FILE*>();
  if (WritesMode(pszMode)) CountOpen("fopen", AT_FDCWD, pszPath);
  return next(pszPath, pszMode);
}

UMX_WRAPPER FILE* fopen64(const char* pszPath, const char* pszMode) {
  const auto next = UMX_NEXT(fopen64);
  if (next == nullptr) return Missing<FILE*>();
  if (WritesMode(pszMode)) CountOpen("fopen64", AT_FDCWD, pszPath);
  return next(pszPath, pszMode);
}

namespace {
// freopen without a path reopens the stream's own file.
void CountReopen(const char* pszCall, const char* pszPath, const char* pszMode, FILE* pStream) {
  if (!WritesMode(pszMode)) return;
  if (pszPath != nullptr) {
    CountOpen(pszCall, AT_FDCWD, pszPath);
  } else if (pStream != nullptr) {
    CountFd(pszCall, ::fileno(pStream));
  }
}
}  // namespace

UMX_WRAPPER FILE* freopen(const char* pszPath, const char* pszMode, FILE* pStream) {
  const auto next = UMX_NEXT(freopen);
  if (next == nullptr) return Missing<FILE*>();
  CountReopen("freopen", pszPath, pszMode, pStream);
  return next(pszPath, pszMode, pStream);
}

UMX_WRAPPER FILE* freopen64(const char* pszPath, const char* pszMode, FILE* pStream) {
  const auto next = UMX_NEXT(freopen64);
  if (next == nullptr) return Missing<FILE*>();
  CountReopen("freopen64", pszPath, pszMode, pStream);
  return next(pszPath, pszMode, pStream);
}

UMX_WRAPPER int fclose(FILE* pStream) {
  const auto next = UMX_NEXT(fclose);
  if (next == nullptr) return Missing<int>();
  CountStream("fclose", pStream);
  return next(pStream);
}

UMX_WRAPPER int fflush(FILE* pStream) {
  const auto next = UMX_NEXT(fflush);
  if (next == nullptr) return Missing<int>();
  CountStream("fflush", pStream);
  return next(pStream);
}

// Writes through a descriptor: a change when it is a regular file that counts.

UMX_WRAPPER ssize_t write(int fd, const void* pData, size_t nLength) {
  const auto next = UMX_NEXT(write);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("write", fd);
  return next(fd, pData, nLength);
}

UMX_WRAPPER ssize_t pwrite(int fd, const void* pData, size_t nLength, off_t nOffset) {
  const auto next = UMX_NEXT(pwrite);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("pwrite", fd);
  return next(fd, pData, nLength, nOffset);
}

UMX_WRAPPER ssize_t pwrite64(int fd, const void* pData, size_t nLength, off64_t nOffset) {
  const auto next = UMX_NEXT(pwrite64);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("pwrite64", fd);
  return next(fd, pData, nLength, nOffset);
}

UMX_WRAPPER ssize_t writev(int fd, const struct iovec* pParts, int nParts) {
  const auto next = UMX_NEXT(writev);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("writev", fd);
  return next(fd, pParts, nParts);
}

UMX_WRAPPER ssize_t pwritev(int fd, const struct iovec* pParts, int nParts, off_t nOffset) {
  const auto next = UMX_NEXT(pwritev);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("pwritev", fd);
  return next(fd, pParts, nParts, nOffset);
}

UMX_WRAPPER ssize_t pwritev64(int fd, const struct iovec* pParts, int nParts, off64_t nOffset) {
  const auto next = UMX_NEXT(pwritev64);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("pwritev64", fd);
  return next(fd, pParts, nParts, nOffset);
}

UMX_WRAPPER ssize_t pwritev2(int fd, const struct iovec* pParts, int nParts, off_t nOffset,
                             int nFlags) {
  const auto next = UMX_NEXT(pwritev2);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("pwritev2", fd);
  return next(fd, pParts, nParts, nOffset, nFlags);
}

UMX_WRAPPER ssize_t pwritev64v2(int fd, const struct iovec* pParts, int nParts, off64_t nOffset,
                                int nFlags) {
  const auto next = UMX_NEXT(pwritev64v2);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("pwritev64v2", fd);
  return next(fd, pParts, nParts, nOffset, nFlags);
}

UMX_WRAPPER int ftruncate(int fd, off_t nLength) noexcept {
  const auto next = UMX_NEXT(ftruncate);
  if (next == nullptr) return Missing<int>();
  CountFd("ftruncate", fd);
  return next(fd, nLength);
}

UMX_WRAPPER int ftruncate64(int fd, off64_t nLength) noexcept {
  const auto next = UMX_NEXT(ftruncate64);
  if (next == nullptr) return Missing<int>();
  CountFd("ftruncate64", fd);
  return next(fd, nLength);
}

UMX_WRAPPER int fallocate(int fd, int nMode, off_t nOffset, off_t nLength) {
  const auto next = UMX_NEXT(fallocate);
  if (next == nullptr) return Missing<int>();
  CountFd("fallocate", fd);
  return next(fd, nMode, nOffset, nLength);
}

UMX_WRAPPER int fallocate64(int fd, int nMode, off64_t nOffset, off64_t nLength) {
  const auto next = UMX_NEXT(fallocate64);
  if (next == nullptr) return Missing<int>();
  CountFd("fallocate64", fd);
  return next(fd, nMode, nOffset, nLength);
}

// posix_fallocate reports its failure as its result, not in errno.
UMX_WRAPPER int posix_fallocate(int fd, off_t nOffset, off_t nLength) {
  const auto next = UMX_NEXT(posix_fallocate);
  if (next == nullptr) return ENOSYS;
  CountFd("posix_fallocate", fd);
  return next(fd, nOffset, nLength);
}

UMX_WRAPPER int posix_fallocate64(int fd, off64_t nOffset, off64_t nLength) {
  const auto next = UMX_NEXT(posix_fallocate64);
  if (next == nullptr) return ENOSYS;
  CountFd("posix_fallocate64", fd);
  return next(fd, nOffset, nLength);
}

UMX_WRAPPER ssize_t copy_file_range(int nInFd, off64_t* pInOffset, int nOutFd, off64_t* pOutOffset,
                                    size_t nLength, unsigned int nFlags) {
  const auto next = UMX_NEXT(copy_file_range);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("copy_file_range", nOutFd);
  return next(nInFd, pInOffset, nOutFd, pOutOffset, nLength, nFlags);
}

UMX_WRAPPER ssize_t sendfile(int nOutFd, int nInFd, off_t* pOffset, size_t nLength) noexcept {
  const auto next = UMX_NEXT(sendfile);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("sendfile", nOutFd);
  return next(nOutFd, nInFd, pOffset, nLength);
}

UMX_WRAPPER ssize_t sendfile64(int nOutFd, int nInFd, off64_t* pOffset, size_t nLength) noexcept {
  const auto next = UMX_NEXT(sendfile64);
  if (next == nullptr) return Missing<ssize_t>();
  CountFd("sendfile64", nOutFd);
  return next(nOutFd, nInFd, pOffset, nLength);
}

// Truncation by name: a change when the file counts, as for an open.

UMX_WRAPPER int truncate(const char* pszPath, off_t nLength) noexcept {
  const auto next = UMX_NEXT(truncate);
  if (next == nullptr) return Missing<int>();
  CountOpen("truncate", AT_FDCWD, pszPath);
  return next(pszPath, nLength);
}

UMX_WRAPPER int truncate64(const char* pszPath, off64_t nLength) noexcept {
  const auto next = UMX_NEXT(truncate64);
  if (next == nullptr) return Missing<int>();
  CountOpen("truncate64", AT_FDCWD, pszPath);
  return next(pszPath, nLength);
}

// Changes to names: each always counts.

UMX_WRAPPER int rename(const char* pszOld, const char* pszNew) noexcept {
  const auto next = UMX_NEXT(rename);
  if (next == nullptr) return Missing<int>();
  CountPath("rename", Named(pszOld));
  return next(pszOld, pszNew);
}

UMX_WRAPPER int renameat(int nOldDirFd, const char* pszOld, int nNewDirFd,
                         const char* pszNew) noexcept {
  const auto next = UMX_NEXT(renameat);
  if (next == nullptr) return Missing<int>();
  CountPath("renameat", At(nOldDirFd, pszOld));
  return next(nOldDirFd, pszOld, nNewDirFd, pszNew);
}

UMX_WRAPPER int renameat2(int nOldDirFd, const char* pszOld, int nNewDirFd, const char* pszNew,
                          unsigned int nFlags) noexcept {
  const auto next = UMX_NEXT(renameat2);
  if (next == nullptr) return Missing<int>();
  CountPath("renameat2", At(nOldDirFd, pszOld));
  return next(nOldDirFd, pszOld, nNewDirFd, pszNew, nFlags);
}

UMX_WRAPPER int unlink(const char* pszPath) noexcept {
  const auto next = UMX_NEXT(unlink);
  if (next == nullptr) return Missing<int>();
  CountPath("unlink", Named(pszPath));
  return next(pszPath);
}

UMX_WRAPPER int unlinkat(int nDirFd, const char* pszPath, int nFlags) noexcept {
  const auto next = UMX_NEXT(unlinkat);
  if (next == nullptr) return Missing<int>();
  CountPath("unlinkat", At(nDirFd, pszPath));
  return next(nDirFd, pszPath, nFlags);
}

UMX_WRAPPER int remove(const char* pszPath) noexcept {
  const auto next = UMX_NEXT(remove);
  if (next == nullptr) return Missing<int>();
  CountPath("remove", Named(pszPath));
  return next(pszPath);
}

UMX_WRAPPER int mkdir(const char* pszPath, mode_t nMode) noexcept {
  const auto next = UMX_NEXT(mkdir);
  if (next == nullptr) return Missing<int>();
  CountPath("mkdir", Named(pszPath), Needs::Absent);
  return next(pszPath, nMode);
}

UMX_WRAPPER int mkdirat(int nDirFd, const char* pszPath, mode_t nMode) noexcept {
  const auto next = UMX_NEXT(mkdirat);
  if (next == nullptr) return Missing<int>();
  CountPath("mkdirat", At(nDirFd, pszPath), Needs::Absent);
  return next(nDirFd, pszPath, nMode);
}

UMX_WRAPPER int rmdir(const char* pszPath) noexcept {
  const auto next = UMX_NEXT(rmdir);
  if (next == nullptr) return Missing<int>();
  CountPath("rmdir", Named(pszPath));
  return next(pszPath);
}

UMX_WRAPPER int link(const char* pszOld, const char* pszNew) noexcept {
  const auto next = UMX_NEXT(link);
  if (next == nullptr) return Missing<int>();
  CountPath("link", Named(pszOld));
  return next(pszOld, pszNew);
}

UMX_WRAPPER int linkat(int nOldDirFd, const char* pszOld, int nNewDirFd, const char* pszNew,
                       int nFlags) noexcept {
  const auto next = UMX_NEXT(linkat);
  if (next == nullptr) return Missing<int>();
  CountPath("linkat", At(nOldDirFd, pszOld));
  return next(nOldDirFd, pszOld, nNewDirFd, pszNew, nFlags);
}

// A symbolic link's target is only text: the change is at its new name.

UMX_WRAPPER int symlink(const char* pszTarget, const char* pszPath) noexcept {
  const auto next = UMX_NEXT(symlink);
  if (next == nullptr) return Missing<int>();
  CountPath("symlink", Named(pszPath), Needs::Absent);
  return next(pszTarget, pszPath);
}

UMX_WRAPPER int symlinkat(const char* pszTarget, int nDirFd, const char* pszPath) noexcept {
  const auto next = UMX_NEXT(symlinkat);
  if (next == nullptr) return Missing<int>();
  CountPath("symlinkat", At(nDirFd, pszPath), Needs::Absent);
  return next(pszTarget, nDirFd, pszPath);
}
