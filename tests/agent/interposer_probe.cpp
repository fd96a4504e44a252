// Makes a fixed series of changes in its working folder, for
// check_interposer.sh to count and stop at, amid writes to its stdout,
// stderr and transcript ($RK_LOCAL_PLATFORM_TRANSCRIPT), which are not
// changes. With --children it then has a forked child and a program it runs
// make files, which are not its changes either. It prints whether the
// interposer's variables are still in its environment, and exits 2 at the
// first step that fails.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

void Must(bool bDone, const char* pszStep) {
  if (bDone) return;
  std::perror(pszStep);
  std::exit(2);
}

void WriteAll(int fd, const char* psz) {
  Must(::write(fd, psz, std::strlen(psz)) == static_cast<ssize_t>(std::strlen(psz)), psz);
}

// Writes that are not changes: the outputs and the transcript, as the
// local platform appends to it.
void WriteOutputs(const char* pszTranscript) {
  WriteAll(STDOUT_FILENO, "to stdout\n");
  WriteAll(STDERR_FILENO, "to stderr\n");
  std::printf("buffered to stdout\n");
  Must(std::fflush(stdout) == 0, "fflush stdout");
  if (pszTranscript == nullptr) return;
  const int fd =
      ::open(pszTranscript, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  Must(fd >= 0, "open transcript");
  WriteAll(fd, "{\"record\":1}\n");
  ::close(fd);
}

void MakeChanges(const char* pszTranscript) {
  const int fd = ::open("a", O_WRONLY | O_CREAT | O_TRUNC, 0644);  // open
  Must(fd >= 0, "open a");
  WriteAll(fd, "a\n");  // write
  ::close(fd);
  WriteOutputs(pszTranscript);

  // The probe makes the C library's own calls, which the interposer counts.
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory)
  FILE* pStream = std::fopen("b", "w");  // fopen
  Must(pStream != nullptr, "fopen b");
  Must(std::fputs("one\n", pStream) >= 0, "fputs b");
  Must(std::fflush(pStream) == 0, "fflush b");  // fflush
  Must(std::fflush(pStream) == 0, "fflush b again");
  Must(std::fputs("two\n", pStream) >= 0, "fputs b");
  Must(std::fclose(pStream) == 0, "fclose b");  // NOLINT(cppcoreguidelines-owning-memory): fclose

  {
    std::ofstream file("c");  // fopen or fopen64
    file << "c\n";
    file.close();  // write
    Must(file.good(), "ofstream c");
  }
  WriteOutputs(pszTranscript);

  Must(std::rename("c", "d") == 0, "rename c");  // rename
  Must(::unlink("b") == 0, "unlink b");          // unlink
  Must(::mkdir("e", 0755) == 0, "mkdir e");      // mkdir
  const int dirFd = ::open("e", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Must(dirFd >= 0, "open e");
  // A name to escape: a tab and a backslash.
  const int oddFd = ::openat(dirFd, "x\t\\y", O_WRONLY | O_CREAT | O_EXCL, 0644);  // openat
  Must(oddFd >= 0, "openat e/x");
  WriteAll(oddFd, "x\n");  // write
  ::close(oddFd);
  Must(::unlinkat(dirFd, "x\t\\y", 0) == 0, "unlinkat e/x");  // unlinkat
  ::close(dirFd);
  Must(::rmdir("e") == 0, "rmdir e");  // rmdir
  WriteOutputs(pszTranscript);
}

void RunChildren() {
  const pid_t pid = ::fork();
  Must(pid >= 0, "fork");
  if (pid == 0) {
    const int fd = ::open("forked-child", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::_exit(fd >= 0 && ::write(fd, "f\n", 2) == 2 ? 0 : 1);
  }
  int nStatus = 0;
  Must(::waitpid(pid, &nStatus, 0) == pid, "waitpid");
  Must(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0, "forked child");
  Must(std::system("touch spawned-child && mkdir spawned-folder") == 0, "spawned child");
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("UMX_CHANGES_LOG %s, UMX_CRASH_AT %s\n",
              std::getenv("UMX_CHANGES_LOG") != nullptr ? "set" : "unset",
              std::getenv("UMX_CRASH_AT") != nullptr ? "set" : "unset");
  MakeChanges(std::getenv("RK_LOCAL_PLATFORM_TRANSCRIPT"));
  if (argc > 1 && std::strcmp(argv[1], "--children") == 0) RunChildren();
  return 0;
}
