#include "Runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>

#include "Evidence.h"
#include "Keeper.h"
#include "UniqueFd.h"

extern char** environ;  // NOLINT: the process's environment, handed on to the agent

namespace AgentCheck {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;

// How long a keeper told to kill everything is given before it is killed
// itself; it only has to kill and reap.
constexpr std::chrono::milliseconds kKeeperGrace{1500};
// The processes named as left running, at most.
constexpr std::size_t kMaxLeftNamed = 16;

// A pipe whose ends are closed when it goes; either may be closed early.
struct Pipe {
  Pipe() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    Close(read);
    Close(write);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  static void Close(int& fd) {
    if (fd >= 0) ::close(std::exchange(fd, -1));
  }
  int read = -1;
  int write = -1;
};

// Opens a new output file of the scenario's, for the agent to write and the
// check to read back through the same descriptor, whatever the agent later
// puts at its path.
int CreateOutput(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// Up to `nCap` bytes of `fd` from its start; `bCut` when it holds more.
std::string ReadCapped(int fd, std::size_t nCap, bool& bCut) {
  std::string text;
  char buffer[65536];
  while (text.size() <= nCap) {
    const ssize_t nRead = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()));
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead <= 0) break;
    text.append(buffer, static_cast<std::size_t>(nRead));
  }
  bCut = text.size() > nCap;
  if (bCut) {
    text.resize(nCap);
    text.shrink_to_fit();
  }
  return text;
}

// The transcript is written by the agent's process, which may have put a
// link, a FIFO or a device at its path: it is read only as a regular file
// reached without a link, and never waited on. -1 with errno otherwise
// (EFTYPE-like cases as EINVAL).
int OpenTranscript(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return -1;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  return fd.release();
}

// The keepers now running, so that a sweep for the processes of a lost
// keeper never takes one for a stray.
std::mutex g_keepersMutex;
std::set<pid_t> g_keepers;

bool IsKeeper(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_keepersMutex);
  return g_keepers.count(pid) != 0;
}

// A started keeper: killed and reaped, if it is still there, when it goes;
// then, if the agent killed it, whatever the agent left behind is swept.
class Keeper {
 public:
  explicit Keeper(const KeeperPlan& plan) {
    static std::once_flag subreaper;
    std::call_once(subreaper, BecomeSubreaper);
    std::lock_guard<std::mutex> lock(g_keepersMutex);
    m_pid = StartKeeper(plan);
    if (m_pid > 0) g_keepers.insert(m_pid);
  }
  ~Keeper() {
    if (m_pid <= 0) return;
    int nStatus = 0;
    pid_t reaped = 0;
    for (int nTry = 0; nTry < 300 && (reaped = ::waitpid(m_pid, &nStatus, WNOHANG)) == 0; ++nTry)
      ::poll(nullptr, 0, 5);
    if (reaped == 0) {
      ::kill(m_pid, SIGKILL);
      while (::waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR) {
      }
      m_bLost = true;
    }
    {
      std::lock_guard<std::mutex> lock(g_keepersMutex);
      g_keepers.erase(m_pid);
    }
    if (m_bLost) {
      static std::mutex sweeping;
      std::lock_guard<std::mutex> lock(sweeping);
      (void)KillStrayChildren(IsKeeper);
    }
  }
  Keeper(const Keeper&) = delete;
  Keeper& operator=(const Keeper&) = delete;

  bool Started() const { return m_pid > 0; }
  // The keeper went without its last word: the agent's processes may now
  // be the check's children.
  void Lost() { m_bLost = true; }

 private:
  pid_t m_pid = -1;
  bool m_bLost = false;
};

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

// Reads what was added to the transcript since `offset`; true once a
// complete line records a held call.
bool ShowsHeldCall(const std::string& path, std::size_t& offset) {
  UniqueFd fd(OpenTranscript(path));
  std::string added;
  char buffer[4096];
  ssize_t nRead = 0;
  while (fd.get() >= 0 && offset + added.size() < kMaxTranscript &&
         (nRead = ::pread(fd.get(), buffer, sizeof buffer,
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
  const auto fail = [&result, &request](const std::string& what) {
    result.startError = "cannot " + what + " in " + request.folder + ": " + std::strerror(errno);
    return result;
  };
  UniqueFd out(CreateOutput(result.outPath));
  UniqueFd err(CreateOutput(result.errPath));
  UniqueFd transcript(CreateOutput(result.transcriptPath));
  if (out.get() < 0 || err.get() < 0 || transcript.get() < 0) return fail("create the outputs");
  if (::mkdir(result.root.c_str(), 0700) != 0 || ::mkdir(work.c_str(), 0700) != 0) {
    return fail("make the root and working folders");
  }
  // Watched before the agent starts, so that no record escapes the watch.
  UniqueFd watch(request.cancel ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1);
  if (watch.get() >= 0) ::inotify_add_watch(watch.get(), result.transcriptPath.c_str(), IN_MODIFY);

  std::vector<std::string> argv{request.program};
  argv.insert(argv.end(), request.args.begin(), request.args.end());
  std::vector<std::string> environment = AgentEnvironment(request, result);
  std::vector<char*> argvPointers = Pointers(argv);
  std::vector<char*> environmentPointers = Pointers(environment);
  Pipe control;
  Pipe report;
  if (control.read < 0 || report.read < 0) return fail("make a pipe");

  const Clock::time_point start = Clock::now();
  Clock::time_point deadline = start + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(request.timeLimit));
  Keeper keeper(KeeperPlan{request.program.c_str(), argvPointers.data(), environmentPointers.data(),
                           work.c_str(), control.read, report.write, out.get(), err.get()});
  if (!keeper.Started()) return fail("start the agent's keeper");
  Pipe::Close(control.read);
  Pipe::Close(report.write);

  bool bKillSent = false;
  const auto send = [&control](char command) { (void)!::write(control.write, &command, 1); };
  const auto killAll = [&] {
    send(kKeeperKill);
    bKillSent = true;
    deadline = Clock::now() + kKeeperGrace;
  };
  bool bDone = false;
  std::string received;
  std::size_t nTranscriptRead = 0;
  while (!bDone) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      if (bKillSent) {
        keeper.Lost();  // it did not end in its grace: it is killed, and its strays swept
        break;
      }
      result.timedOut = true;
      killAll();
    }
    auto nWait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    const bool bWatching = request.cancel && !result.signalSent && !bKillSent;
    if (bWatching && watch.get() < 0) nWait = std::min<long long>(nWait, 10);
    pollfd fds[] = {{report.read, POLLIN, 0},
                    {bWatching ? watch.get() : -1, POLLIN, 0},
                    {bKillSent ? -1 : request.stopFd, POLLIN, 0}};
    if (::poll(fds, 3, static_cast<int>(std::max<long long>(nWait, 0))) < 0 && errno != EINTR) {
      break;
    }
    if ((fds[2].revents & POLLIN) != 0) {
      result.stopped = true;
      killAll();
    }
    if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
      char buffer[sizeof(KeeperMessage) * 8];
      const ssize_t nRead = ::read(report.read, buffer, sizeof buffer);
      if (nRead == 0) {
        keeper.Lost();  // the pipe closed before its last word: the agent killed it
        break;
      }
      if (nRead > 0) received.append(buffer, static_cast<std::size_t>(nRead));
      for (; received.size() >= sizeof(KeeperMessage); received.erase(0, sizeof(KeeperMessage))) {
        KeeperMessage message;
        std::memcpy(&message, received.data(), sizeof message);
        message.text[sizeof message.text - 1] = '\0';
        switch (message.kind) {
          case KeeperMessage::kStartFailed:
            result.startError =
                "cannot run " + request.program + ": " + std::strerror(message.value);
            break;
          case KeeperMessage::kExited:
            result.exited = WIFEXITED(message.value);
            result.status = result.exited ? WEXITSTATUS(message.value) : 0;
            result.signal = WIFSIGNALED(message.value) ? WTERMSIG(message.value) : 0;
            result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            break;
          case KeeperMessage::kLeft:
            if (result.leftRunning.size() < kMaxLeftNamed)
              result.leftRunning.emplace_back(message.text);
            break;
          case KeeperMessage::kDone:
            bDone = true;
            break;
          default:
            break;
        }
      }
    }
    if (bWatching) {
      char events[4096];
      while (watch.get() >= 0 && ::read(watch.get(), events, sizeof events) > 0) {
      }
      if (ShowsHeldCall(result.transcriptPath, nTranscriptRead)) {
        send(kKeeperTerminate);
        result.signalSent = true;
      }
    }
  }
  if (result.seconds == 0)
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!bDone) result.keeperLost = !result.stopped && !result.timedOut;
  Pipe::Close(control.write);  // a keeper still there kills all and goes

  result.out = ReadCapped(out.get(), kMaxOut, result.outCut);
  result.err = ReadCapped(err.get(), kMaxErr, result.errCut);
  if (UniqueFd fd(OpenTranscript(result.transcriptPath)); fd.get() >= 0) {
    result.transcript = ReadCapped(fd.get(), kMaxTranscript, result.transcriptCut);
  } else {
    result.transcriptProblem =
        std::string("the transcript cannot be read as a regular file: ") + std::strerror(errno);
  }
  FileListing listing = ListFiles(result.root, kMaxFiles);
  result.files = std::move(listing.files);
  result.filesComplete = listing.complete;
  return result;
}

}  // namespace AgentCheck
