// Preloaded into the sample agent by check_careful_output.sh: a fixed random
// source, and a log of the calls that put the summary on the disk.
//   getrandom   the n-th call (from 0) fills its buffer with the byte n
//   fsync       logs "fsync file" or "fsync directory" to $UMX_OBSERVE_LOG
//   renameat    logs "renameat"
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

template <typename F>
F Next(const char* pszName) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, pszName));
}

void Log(const char* pszLine) {
  const char* pszLog = std::getenv("UMX_OBSERVE_LOG");
  if (pszLog == nullptr) return;
  const int fd = ::open(pszLog, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  (void)!::write(fd, pszLine, std::strlen(pszLine));
  ::close(fd);
}

std::atomic<unsigned char> g_nextRandomByte{0};

}  // namespace

extern "C" ssize_t getrandom(void* pBuffer, size_t nLength, unsigned int) {
  std::memset(pBuffer, g_nextRandomByte++, nLength);
  return static_cast<ssize_t>(nLength);
}

extern "C" int fsync(int fd) {
  struct stat info {};
  Log(::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? "fsync directory\n" : "fsync file\n");
  return Next<int (*)(int)>("fsync")(fd);
}

extern "C" int renameat(int nOldDirectory, const char* pszOld, int nNewDirectory,
                        const char* pszNew) {
  Log("renameat\n");
  return Next<int (*)(int, const char*, int, const char*)>("renameat")(nOldDirectory, pszOld,
                                                                       nNewDirectory, pszNew);
}
