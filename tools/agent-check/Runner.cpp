#include "Runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "Evidence.h"

extern char** environ;  // NOLINT: the process's environment, handed on to the agent

namespace AgentCheck {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&m_actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions{};
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&m_attributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&m_attributes); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &m_attributes; }

 private:
  posix_spawnattr_t m_attributes{};
};

// A started agent in a process group of its own. Whatever of the group
// still runs is killed, and the agent reaped, when it goes.
class AgentProcess {
 public:
  explicit AgentProcess(pid_t pid) : m_pid(pid) {}
  ~AgentProcess() {
    if (m_pid > 0) (void)Reap();
  }
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  // Kills the group (the agent too when it still runs) and gives the agent's
  // wait status.
  int Reap() {
    ::kill(-m_pid, SIGKILL);
    int nStatus = 0;
    while (::waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return nStatus;
  }

 private:
  pid_t m_pid;
};

// Removes `path` and all below it, without following links, making each
// folder the user's to change first: an agent may leave one that is not.
void RemoveTree(const fs::path& path) {
  std::error_code error;
  if (fs::is_directory(fs::symlink_status(path, error))) {
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
      entries.push_back(it->path());
    }
    for (const fs::path& entry : entries)
      RemoveTree(entry);
  }
  fs::remove(path, error);
}

std::string ReadKept(const std::string& path) {
  std::string text;
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return text;
  char buffer[65536];
  while (text.size() < kMaxKept) {
    const ssize_t nRead = ::read(fd.get(), buffer, sizeof buffer);
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead <= 0) break;
    text.append(buffer, static_cast<std::size_t>(nRead));
  }
  if (text.size() > kMaxKept) text.resize(kMaxKept);
  return text;
}

std::vector<LeftFile> FilesUnder(const std::string& root) {
  std::vector<LeftFile> files;
  std::error_code error;
  for (fs::recursive_directory_iterator
           it(root, fs::directory_options::skip_permission_denied, error),
       end;
       !error && it != end; it.increment(error)) {
    const fs::file_status status = it->symlink_status(error);
    if (error || fs::is_directory(status)) continue;
    const auto size = fs::is_regular_file(status) ? it->file_size(error) : 0;
    files.push_back(LeftFile{fs::path(it->path()).lexically_relative(root).string(),
                             error ? 0 : static_cast<long long>(size)});
  }
  std::sort(files.begin(), files.end(),
            [](const LeftFile& a, const LeftFile& b) { return a.path < b.path; });
  return files;
}

// The environment the agent runs in: the check's own, with the local
// platform's variables replaced by the scenario's.
std::vector<std::string> AgentEnvironment(const RunRequest& request, const RunResult& result) {
  std::vector<std::string> environment;
  for (char** ppsz = environ; *ppsz != nullptr; ++ppsz) {
    if (std::strncmp(*ppsz, "RK_LOCAL_PLATFORM_", 18) != 0) environment.emplace_back(*ppsz);
  }
  environment.push_back("RK_LOCAL_PLATFORM_ROOT=" + result.root);
  environment.push_back("RK_LOCAL_PLATFORM_TRANSCRIPT=" + result.transcriptPath);
  if (!request.faults.empty()) environment.push_back("RK_LOCAL_PLATFORM_FAULTS=" + request.faults);
  return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// Reads what was added to the transcript since `offset`; true once a
// complete line records a held call.
bool ShowsHeldCall(const std::string& path, std::size_t& offset) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string added;
  char buffer[4096];
  ssize_t nRead = 0;
  while (fd.get() >= 0 && (nRead = ::pread(fd.get(), buffer, sizeof buffer,
                                           static_cast<off_t>(offset + added.size()))) > 0) {
    added.append(buffer, static_cast<std::size_t>(nRead));
  }
  const std::size_t nComplete = added.rfind('\n');
  if (nComplete == std::string::npos) return false;
  offset += nComplete + 1;
  std::vector<std::string> problems;
  const std::vector<CallRecord> records = ReadTranscript(added.substr(0, nComplete), problems);
  return std::any_of(records.begin(), records.end(),
                     [](const CallRecord& record) { return record.state == "held"; });
}

// Opens a new output file of the scenario's, for the agent to write.
int CreateOutput(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

}  // namespace

std::optional<TempFolder> TempFolder::Make(std::string& why) {
  const char* pszTmp = std::getenv("TMPDIR");
  std::string pattern = std::string(pszTmp != nullptr && *pszTmp != '\0' ? pszTmp : "/tmp") +
                        "/umx-agent-check-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    why = "cannot make a folder like " + pattern + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return TempFolder(pattern);
}

TempFolder::TempFolder(TempFolder&& other) noexcept : m_strPath(std::move(other.m_strPath)) {
  other.m_strPath.clear();
}

TempFolder::~TempFolder() {
  if (!m_strPath.empty()) RemoveTree(m_strPath);
}

std::string FindProgram(const std::string& name, std::string& why) {
  const auto isProgram = [](const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos) {
    std::error_code error;
    const fs::path path = fs::absolute(name, error);
    if (!error && isProgram(path)) return path.lexically_normal().string();
    why = "cannot run " + name + ": " +
          (fs::exists(path, error) ? "it is not an executable file" : "no such file");
    return {};
  }
  const char* pszPath = std::getenv("PATH");
  std::string_view search = pszPath != nullptr ? pszPath : "/usr/local/bin:/usr/bin:/bin";
  for (;;) {
    const std::size_t nColon = search.find(':');
    const std::string folder(search.substr(0, nColon));
    std::error_code error;
    const fs::path path = fs::absolute(fs::path(folder.empty() ? "." : folder) / name, error);
    if (!error && isProgram(path)) return path.lexically_normal().string();
    if (nColon == std::string_view::npos) break;
    search.remove_prefix(nColon + 1);
  }
  why = "cannot run " + name + ": no such program on PATH";
  return {};
}

RunResult RunAgent(const RunRequest& request) {
  RunResult result;
  result.root = request.folder + "/root";
  const std::string work = request.folder + "/work";
  result.outPath = request.folder + "/stdout";
  result.errPath = request.folder + "/stderr";
  result.transcriptPath = request.folder + "/transcript.jsonl";
  Fd out(CreateOutput(result.outPath));
  Fd err(CreateOutput(result.errPath));
  Fd transcript(CreateOutput(result.transcriptPath));
  if (::mkdir(result.root.c_str(), 0700) != 0 || ::mkdir(work.c_str(), 0700) != 0 ||
      out.get() < 0 || err.get() < 0 || transcript.get() < 0) {
    result.startError = "cannot prepare " + request.folder + ": " + std::strerror(errno);
    return result;
  }
  // Watched before the agent starts, so that no record escapes the watch.
  Fd watch(request.cancel ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1);
  if (watch.get() >= 0) ::inotify_add_watch(watch.get(), result.transcriptPath.c_str(), IN_MODIFY);

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), out.get(), 1);
  posix_spawn_file_actions_adddup2(actions.get(), err.get(), 2);
  posix_spawn_file_actions_addchdir_np(actions.get(), work.c_str());
  SpawnAttributes attributes;
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setflags(attributes.get(),
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(attributes.get(), 0);
  posix_spawnattr_setsigmask(attributes.get(), &none);
  posix_spawnattr_setsigdefault(attributes.get(), &all);

  std::vector<std::string> argv{request.program};
  argv.insert(argv.end(), request.args.begin(), request.args.end());
  std::vector<std::string> environment = AgentEnvironment(request, result);
  std::vector<char*> argvPointers = Pointers(argv);
  std::vector<char*> environmentPointers = Pointers(environment);

  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(request.timeLimit));
  pid_t nPid = 0;
  if (const int nError =
          posix_spawn(&nPid, request.program.c_str(), actions.get(), attributes.get(),
                      argvPointers.data(), environmentPointers.data())) {
    result.startError = "cannot run " + request.program + ": " + std::strerror(nError);
    return result;
  }

  // Waits for the agent to end without reaping it, so that its process group
  // stays its own until the rest of the group is killed.
  AgentProcess agent(nPid);
  Fd pidfd(OpenPidFd(nPid));
  std::size_t nTranscriptRead = 0;
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(nPid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == nPid) {
      break;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      result.timedOut = true;
      break;
    }
    auto nWait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    // Without a pidfd, or an inotify watch when one is needed, look again soon.
    if (pidfd.get() < 0 || (request.cancel && watch.get() < 0))
      nWait = std::min<long long>(nWait, 10);
    pollfd fds[] = {{pidfd.get(), POLLIN, 0},
                    {result.signalSent ? -1 : watch.get(), POLLIN, 0},
                    {request.stopFd, POLLIN, 0}};
    if (::poll(fds, 3, static_cast<int>(nWait)) > 0 && (fds[2].revents & POLLIN) != 0) {
      result.stopped = true;
      break;
    }
    if (request.cancel && !result.signalSent) {
      char events[4096];
      while (watch.get() >= 0 && ::read(watch.get(), events, sizeof events) > 0) {
      }
      if (ShowsHeldCall(result.transcriptPath, nTranscriptRead)) {
        ::kill(nPid, SIGTERM);
        result.signalSent = true;
      }
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const int nStatus = agent.Reap();
  result.exited = WIFEXITED(nStatus);
  result.status = result.exited ? WEXITSTATUS(nStatus) : 0;
  result.signal = WIFSIGNALED(nStatus) ? WTERMSIG(nStatus) : 0;

  result.out = ReadKept(result.outPath);
  result.err = ReadKept(result.errPath);
  result.transcript = ReadKept(result.transcriptPath);
  result.files = FilesUnder(result.root);
  return result;
}

}  // namespace AgentCheck
