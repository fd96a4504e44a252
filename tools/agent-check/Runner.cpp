#include "Runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
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

#include "Escape.h"
#include "KeeperProtocol.h"
#include "Processes.h"

extern char** environ;  // NOLINT: the process's environment, handed on to the agent

namespace AgentCheck {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kKeeperName[] = "umx-agent-keeper";
constexpr char kInterposerName[] = "umx-agent-interposer.so";
constexpr std::size_t kPiece = 64 << 10;

// The namespaces and limits of every scenario's sandbox, before its mounts.
// The keeper is the sandbox's first process (--as-pid-1): no process of the
// agent's can signal it, and when it exits the kernel kills the rest.
const char* const kSandboxOptions[] = {
    "--unshare-all",
    "--unshare-user",
    "--disable-userns",
    "--die-with-parent",
    "--new-session",
    "--as-pid-1",
    "--cap-drop",
    "ALL",
    "--ro-bind",
    "/",
    "/",
    "--dev",
    "/dev",
    "--proc",
    "/proc",
    "--tmpfs",
    "/tmp",
};

std::string Errno(int nError = errno) { return std::strerror(nError); }

// A line of the interposer's log is a call's name and a path.
constexpr std::size_t kMaxChangeLine = 8192;

// The folder of the running program.
std::string OwnFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

// A file of the check's, `name`: beside the check (the build tree) or where
// it is installed, by the path from the programs' folder to it.
std::string FindOwnFile(const char* name, int nMode, std::string& why) {
  const std::string folder = OwnFolder();
  for (const std::string& candidate :
       {folder + "/" + name, folder + "/" UMX_KEEPER_FROM_BINDIR "/" + name}) {
    if (::access(candidate.c_str(), nMode) == 0)
      return fs::path(candidate).lexically_normal().string();
  }
  why = std::string("cannot find ") + name + " beside " + folder + " or in " + folder +
        "/" UMX_KEEPER_FROM_BINDIR;
  return {};
}

// A folder under /tmp that `path` is in, as /tmp/NAME; empty when it is in
// none. The sandbox's /tmp is its own, so such a folder is bound into it.
std::string TopFolderInTmp(const std::string& path) {
  if (path.rfind("/tmp/", 0) != 0) return {};
  const std::size_t nEnd = path.find('/', 5);
  return nEnd == std::string::npos ? std::string() : path.substr(0, nEnd);
}

// The descriptors a keeper starts with, each a copy made for the start
// alone: 0 /dev/null, 1 and 2 the agent's outputs, 3 the keeper's socket.
class KeeperDescriptors {
 public:
  KeeperDescriptors(int outFd, int errFd, int socketFd) {
    const UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    const int sources[] = {null.get(), outFd, errFd, socketFd};
    for (std::size_t n = 0; n < m_fds.size(); ++n) {
      // Above every target, so that no dup2 of the start overwrites a source.
      m_fds[n] = UniqueFd(sources[n] < 0 ? -1 : ::fcntl(sources[n], F_DUPFD_CLOEXEC, 10));
      m_bValid = m_bValid && m_fds[n].get() >= 0;
    }
  }
  bool Valid() const { return m_bValid; }
  // Adds the moves to their places to `actions`.
  void Place(posix_spawn_file_actions_t& actions) const {
    for (std::size_t n = 0; n < m_fds.size(); ++n)
      posix_spawn_file_actions_adddup2(&actions, m_fds[n].get(), static_cast<int>(n));
  }

 private:
  std::array<UniqueFd, 4> m_fds;
  bool m_bValid = true;
};

// Starts `argv` with the descriptors of `fds`, default signal actions and
// nothing blocked; its pid, or -1 with errno. posix_spawn, as the check has
// threads.
pid_t Spawn(const std::vector<std::string>& argv, std::vector<std::string>& environment,
            const KeeperDescriptors& fds) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  env.reserve(environment.size() + 1);
  for (std::string& text : environment)
    env.push_back(text.data());
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  fds.Place(actions);
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int nError = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (nError != 0) {
    errno = nError;
    return -1;
  }
  return pid;
}

// The sandbox's command line up to the keeper's: the namespaces, then the
// scenario's own folders bound writable over a read-only file system, with
// the check's other folders hidden.
std::vector<std::string> SandboxCommand(const Isolation& isolation, const std::string& program,
                                        const std::string& base, const std::string& root,
                                        const std::string& work, const std::string& transcript,
                                        const std::string& changes) {
  std::vector<std::string> command{isolation.bwrap};
  command.insert(command.end(), std::begin(kSandboxOptions), std::end(kSandboxOptions));
  std::set<std::string> seen;
  for (const std::string& path : {program, isolation.keeper, isolation.interposer}) {
    const std::string top = TopFolderInTmp(path);
    if (!top.empty() && seen.insert(top).second)
      command.insert(command.end(), {"--ro-bind", top, top});
  }
  command.insert(
      command.end(),
      {"--tmpfs", base,       "--bind",   root,     root,    "--bind", work,           work,
       "--bind",  transcript, transcript, "--bind", changes, changes,  "--remount-ro", base,
       "--chdir", work,       "--setenv", "TMPDIR", "/tmp",  "--"});
  return command;
}

// The keepers now running, so that a sweep for the processes of a lost
// keeper never takes one for a stray.
std::mutex g_keepersMutex;
std::set<pid_t> g_keepers;

bool IsKeeper(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_keepersMutex);
  return g_keepers.count(pid) != 0;
}

// The check's child for one scenario (the sandbox, or the keeper itself):
// reaped when it goes, killed first if it is still there; and where it was
// the keeper itself and went silent, whatever the agent left is swept.
class KeeperProcess {
 public:
  // The descriptors' copies made for the start are closed once it is
  // made: the check must hold no end of the keeper's socket but its own.
  KeeperProcess(const std::vector<std::string>& argv, std::vector<std::string>& environment,
                KeeperDescriptors fds, bool bSandbox)
      : m_bSandbox(bSandbox) {
    // Without a sandbox, what an agent leaves when it kills its keeper
    // becomes the check's, not init's, so that it can be swept.
    static std::once_flag subreaper;
    if (!bSandbox)
      std::call_once(subreaper, [] { (void)::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); });
    std::lock_guard<std::mutex> lock(g_keepersMutex);
    m_pid = fds.Valid() ? Spawn(argv, environment, fds) : -1;
    if (m_pid > 0) g_keepers.insert(m_pid);
  }
  ~KeeperProcess() {
    if (m_pid <= 0) return;
    if (!Reaped(m_deadline)) {
      ::kill(m_pid, SIGKILL);
      while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    {
      std::lock_guard<std::mutex> lock(g_keepersMutex);
      g_keepers.erase(m_pid);
    }
    // In a sandbox the kernel kills what is left; without one, what the
    // agent left is now the check's.
    if (m_bLost && !m_bSandbox) {
      static std::mutex sweeping;
      std::lock_guard<std::mutex> lock(sweeping);
      (void)KillDescendants(::getpid(), IsKeeper);
    }
  }
  KeeperProcess(const KeeperProcess&) = delete;
  KeeperProcess& operator=(const KeeperProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  // The keeper went silent: it is killed when this goes, and its agent's
  // processes swept.
  void Lost() {
    m_bLost = true;
    m_deadline = Clock::now();
  }
  // How long it is given to exit by itself when this goes.
  void ExitBy(Clock::time_point deadline) { m_deadline = deadline; }

 private:
  bool Reaped(Clock::time_point deadline) {
    for (;;) {
      const pid_t reaped = ::waitpid(m_pid, nullptr, WNOHANG);
      if (reaped == m_pid || (reaped < 0 && errno != EINTR)) return true;
      if (Clock::now() >= deadline) return false;
      ::poll(nullptr, 0, 2);
    }
  }

  pid_t m_pid = -1;
  bool m_bSandbox;
  bool m_bLost = false;
  Clock::time_point m_deadline = Clock::now() + std::chrono::milliseconds(500);
};

// The transcript is written by the agent's process, which may have put a
// link, a FIFO or a device at its name: it is read only as a regular file
// reached without a link, and never waited on. -1 with errno otherwise.
int OpenTranscript(int folderFd) {
  UniqueFd fd(
      ::openat(folderFd, "transcript.jsonl", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return -1;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  return fd.release();
}

// Hands `fd`'s bytes from `offset`, up to `nCap` bytes from its start, to
// `take` a piece at a time; true when there were more.
template <typename Take>
bool ReadPieces(int fd, std::size_t& offset, std::size_t nCap, Take take) {
  std::string piece(kPiece, '\0');
  while (offset < nCap) {
    const ssize_t nRead =
        ::pread(fd, piece.data(), std::min(kPiece, nCap - offset), static_cast<off_t>(offset));
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead <= 0) return false;
    offset += static_cast<std::size_t>(nRead);
    take(std::string_view(piece.data(), static_cast<std::size_t>(nRead)));
  }
  char byte = 0;
  return ::pread(fd, &byte, 1, static_cast<off_t>(offset)) == 1;
}

// Watches a cancellation scenario's transcript for a held call, reading
// only what was added since it last looked.
class HeldWatch {
 public:
  explicit HeldWatch(int folderFd)
      : m_folderFd(folderFd),
        m_reader([this](CallRecord&& record) { m_bHeld = m_bHeld || record.state == "held"; }) {}
  bool Held() {
    const UniqueFd fd(OpenTranscript(m_folderFd));
    if (fd.get() >= 0 && !m_bHeld) {
      (void)ReadPieces(fd.get(), m_nRead, kMaxTranscript,
                       [this](std::string_view piece) { m_reader.Add(piece); });
    }
    return m_bHeld;
  }

 private:
  int m_folderFd;
  std::size_t m_nRead = 0;
  bool m_bHeld = false;
  TranscriptReader m_reader;
};

std::vector<std::string> InterposerEnvironment(const RunRequest& request,
                                               const std::string& changesPath) {
  const std::string& interposer = request.isolation->interposer;
  if (interposer.empty() || !request.interpose) return {};
  std::vector<std::string> environment{kKeeperPreloadVariable + ("=" + interposer),
                                       "UMX_CHANGES_LOG=" + changesPath};
  if (request.crashAt != 0)
    environment.push_back("UMX_CRASH_AT=" + std::to_string(request.crashAt));
  // AddressSanitizer wants its runtime loaded first; the interposer comes
  // before it in an agent built with it.
  const char* pszAsan = std::getenv("ASAN_OPTIONS");
  environment.push_back(std::string("ASAN_OPTIONS=") + (pszAsan != nullptr ? pszAsan : "") +
                        (pszAsan != nullptr && *pszAsan != '\0' ? ":" : "") +
                        "verify_asan_link_order=0");
  return environment;
}

// The check's own environment, less each variable `bDrop` is true for.
template <typename Drop>
std::vector<std::string> OwnEnvironment(Drop bDrop) {
  std::vector<std::string> environment;
  for (char** ppsz = environ; *ppsz != nullptr; ++ppsz) {
    if (!bDrop(std::string_view(*ppsz))) environment.emplace_back(*ppsz);
  }
  return environment;
}

// The environment the agent runs in: the check's own, with the local
// platform's variables replaced by the scenario's. A sandbox has its own
// /tmp, so the check's TMPDIR means nothing there; the interposer brings
// its own ASAN_OPTIONS.
std::vector<std::string> AgentEnvironment(const RunRequest& request, const RunResult& result) {
  const bool bSandbox = request.isolation->sandbox;
  const bool bInterposed = !request.isolation->interposer.empty() && request.interpose;
  std::vector<std::string> environment = OwnEnvironment([&](std::string_view variable) {
    return variable.rfind("RK_LOCAL_PLATFORM_", 0) == 0 ||
           (bSandbox && variable.rfind("TMPDIR=", 0) == 0) ||
           (bInterposed && variable.rfind("ASAN_OPTIONS=", 0) == 0);
  });
  environment.push_back("RK_LOCAL_PLATFORM_ROOT=" + result.root);
  environment.push_back("RK_LOCAL_PLATFORM_TRANSCRIPT=" + result.transcriptPath);
  if (!request.faults.empty()) environment.push_back("RK_LOCAL_PLATFORM_FAULTS=" + request.faults);
  for (const std::string& variable : InterposerEnvironment(request, result.changesPath))
    environment.push_back(variable);
  return environment;
}

// The outputs of one run, made in the scenario's folder through its
// descriptor: each new, never a name that was there before.
struct Outputs {
  UniqueFd out, err, transcript, changes;
  bool Made() const {
    return out.get() >= 0 && err.get() >= 0 && transcript.get() >= 0 && changes.get() >= 0;
  }
};

Outputs MakeOutputs(int folderFd) {
  const auto create = [folderFd](const char* name) {
    return UniqueFd(
        ::openat(folderFd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  };
  Outputs outputs{create("stdout"), create("stderr"), create("transcript.jsonl"),
                  create("changes")};
  if (outputs.Made() &&
      (::mkdirat(folderFd, "root", 0700) != 0 || ::mkdirat(folderFd, "work", 0700) != 0))
    outputs.out = UniqueFd();
  return outputs;
}

// The run as it goes: the keeper's messages, the limits, the check's word.
class Supervision {
 public:
  Supervision(const RunRequest& request, RunResult& result, KeeperProcess& keeper, int socketFd)
      : m_request(request),
        m_result(result),
        m_keeper(keeper),
        m_socketFd(socketFd),
        m_start(Clock::now()),
        m_deadline(m_start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(request.timeLimit))) {}

  // Until the keeper says all is done, or goes silent, or its grace ends.
  void Wait() {
    std::optional<HeldWatch> held;
    UniqueFd watch;
    if (m_request.cancel) {
      held.emplace(m_request.folder->fd.get());
      watch = UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
      if (watch.get() >= 0)
        ::inotify_add_watch(watch.get(), m_result.transcriptPath.c_str(), IN_MODIFY);
    }
    while (!m_bDone) {
      const Clock::time_point now = Clock::now();
      if (now >= m_deadline) {
        if (m_bKillSent) {
          m_keeper.Lost();  // silent through its grace: killed, and its strays swept
          break;
        }
        // What the keeper said while the check was busy (reading a long
        // transcript, say) came before the limit: an agent that has ended
        // did not run past it.
        if (!Receive()) {
          m_keeper.Lost();
          break;
        }
        if (m_bDone) break;
        m_result.timedOut = !m_bExited;
        KillAll();
      }
      const bool bWatching = held && !m_result.signalSent && !m_bKillSent;
      auto nWait =
          std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - now).count() + 1;
      if (bWatching && watch.get() < 0) nWait = std::min<long long>(nWait, 10);
      pollfd fds[] = {{m_socketFd, POLLIN, 0},
                      {bWatching ? watch.get() : -1, POLLIN, 0},
                      {m_bKillSent ? -1 : m_request.stopFd, POLLIN, 0}};
      if (::poll(fds, 3, static_cast<int>(std::max<long long>(nWait, 0))) < 0 && errno != EINTR)
        break;
      if ((fds[2].revents & POLLIN) != 0) {
        m_result.stopped = true;
        KillAll();
      }
      if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !Receive()) {
        m_keeper.Lost();  // closed before its last word
        break;
      }
      if (bWatching) {
        char events[4096];
        while (watch.get() >= 0 && ::read(watch.get(), events, sizeof events) > 0) {
        }
        if (held->Held()) {
          Send(kKeeperTerminate);
          m_result.signalSent = true;
        }
      }
    }
    if (m_result.seconds == 0) m_result.seconds = Seconds();
    m_keeper.ExitBy(m_bDone ? Clock::now() + std::chrono::milliseconds(500) : Clock::now());
    if (!m_bDone) m_result.keeperLost = !m_result.stopped;
    // A sandbox that did not start is the check's error; a keeper of its
    // own that never spoke was killed, which only an agent does.
    if (!m_bStarted && m_result.startError.empty() && m_request.isolation->sandbox)
      m_result.startError = "the sandbox did not start";
  }

 private:
  double Seconds() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
  void Send(char command) { (void)::send(m_socketFd, &command, 1, MSG_NOSIGNAL | MSG_DONTWAIT); }
  void KillAll() {
    Send(kKeeperKill);
    m_bKillSent = true;
    m_deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(kKeeperGraceSeconds));
  }
  // Takes the keeper's messages; false when it is gone without its last.
  bool Receive() {
    for (;;) {
      KeeperMessage message;
      const ssize_t nRead = ::recv(m_socketFd, &message, sizeof message, MSG_DONTWAIT);
      if (nRead < 0 && errno == EINTR) continue;
      if (nRead < 0) return errno == EAGAIN;
      if (nRead == 0) return false;
      if (static_cast<std::size_t>(nRead) != sizeof message) continue;
      message.text[sizeof message.text - 1] = '\0';
      switch (message.kind) {
        case KeeperMessage::kStarted:
          m_bStarted = true;
          break;
        case KeeperMessage::kStartFailed:
          m_bStarted = true;
          m_result.startError = "cannot run " + m_request.program + ": " + Errno(message.value);
          break;
        case KeeperMessage::kExited:
          m_bExited = true;
          m_result.exited = WIFEXITED(message.value);
          m_result.status = m_result.exited ? WEXITSTATUS(message.value) : 0;
          m_result.signal = WIFSIGNALED(message.value) ? WTERMSIG(message.value) : 0;
          m_result.seconds = Seconds();
          break;
        case KeeperMessage::kLeft:
          m_result.leftCount = message.value;
          if (m_result.leftRunning.size() < static_cast<std::size_t>(kMaxLeftNamed))
            m_result.leftRunning.emplace_back(message.text);
          break;
        case KeeperMessage::kDone:
          m_bDone = true;
          return true;
        default:
          break;
      }
    }
  }

  const RunRequest& m_request;
  RunResult& m_result;
  KeeperProcess& m_keeper;
  int m_socketFd;
  Clock::time_point m_start;
  Clock::time_point m_deadline;
  bool m_bKillSent = false;
  bool m_bStarted = false;
  bool m_bDone = false;
  bool m_bExited = false;  // the keeper told how the agent ended
};

// Reads the interposer's log of the agent's changes: what it changed, and
// the first change outside the scenario's folder. A device or /proc is no
// place an agent leaves anything; /dev/shm, a file system under /dev, is.
bool IsDeviceOrProc(std::string_view path) {
  return (path.rfind("/dev/", 0) == 0 && path.rfind("/dev/shm/", 0) != 0) ||
         path.rfind("/proc/", 0) == 0;
}

void ReadChanges(const RunRequest& request, const Outputs& outputs, RunResult& result) {
  const std::string& folder = request.folder->path;
  LineSplitter lines(kMaxChangeLine, [&](std::string_view line, std::size_t, bool) {
    ++result.changeCount;
    if (result.changes.size() < kMaxChangesKept) result.changes.emplace_back(line);
    const std::size_t nPath = line.find(' ');
    const std::string_view path = nPath == std::string_view::npos ? "" : line.substr(nPath + 1);
    const bool bInside = path.compare(0, folder.size(), folder) == 0 &&
                         (path.size() == folder.size() || path[folder.size()] == '/');
    if (result.wroteOutside.empty() && path.rfind('/', 0) == 0 && !bInside &&
        !IsDeviceOrProc(path)) {
      result.wroteOutside = std::string(line);
    }
  });
  std::size_t nOffset = 0;
  (void)ReadPieces(outputs.changes.get(), nOffset, kMaxTranscript,
                   [&lines](std::string_view piece) { lines.Add(piece); });
  result.changesCounted = true;
}

// Reads back each output, a piece at a time, into the run's evidence, and
// lists what the agent left under its root.
void Collect(const RunRequest& request, const Outputs& outputs, RunResult& result,
             Evidence& evidence) {
  EvidenceReader reader(result.root);
  std::size_t nOffset = 0;
  result.outCut = ReadPieces(outputs.out.get(), nOffset, kMaxOut,
                             [&reader](std::string_view piece) { reader.Out(piece); });
  nOffset = 0;
  result.errCut = ReadPieces(outputs.err.get(), nOffset, kMaxErr,
                             [&reader](std::string_view piece) { reader.Err(piece); });
  // Read through the name, not the descriptor made for it: the agent's
  // process writes it by name, and may have put something else there.
  std::string transcriptProblem;
  if (const UniqueFd fd(OpenTranscript(request.folder->fd.get())); fd.get() >= 0) {
    nOffset = 0;
    result.transcriptCut =
        ReadPieces(fd.get(), nOffset, kMaxTranscript,
                   [&reader](std::string_view piece) { reader.Transcript(piece); });
  } else {
    transcriptProblem = "the transcript cannot be read as a regular file: " + Errno();
    result.transcriptCut = true;
  }
  evidence = reader.Finish(result.transcriptCut, result.outCut, result.errCut);
  if (!transcriptProblem.empty()) {
    evidence.transcriptProblems.insert(evidence.transcriptProblems.begin(), transcriptProblem);
  }
  if (!request.isolation->interposer.empty() && request.interpose)
    ReadChanges(request, outputs, result);
  FileListing listing = ListFiles(request.folder->fd.get(), "root", kMaxFiles, kMaxPathBytes);
  result.files = std::move(listing.files);
  result.filesIncomplete = std::move(listing.incomplete);
}

}  // namespace

std::optional<Isolation> FindIsolation(SandboxMode mode, std::string& why) {
  Isolation isolation;
  isolation.keeper = FindOwnFile(kKeeperName, X_OK, why);
  if (isolation.keeper.empty()) return std::nullopt;
  std::string whyNoInterposer;
  isolation.interposer = FindOwnFile(kInterposerName, R_OK, whyNoInterposer);
  if (mode == SandboxMode::Off) {
    isolation.why = "--sandbox=off";
    return isolation;
  }
  std::string whyNot;
  isolation.bwrap = FindProgram("bwrap", whyNot);
  if (!isolation.bwrap.empty()) {
    // A sandbox like a scenario's, tried once: the keeper's probe exits 0.
    std::vector<std::string> command{isolation.bwrap};
    command.insert(command.end(), std::begin(kSandboxOptions), std::end(kSandboxOptions));
    const std::string top = TopFolderInTmp(isolation.keeper);
    if (!top.empty()) command.insert(command.end(), {"--ro-bind", top, top});
    command.insert(command.end(), {"--", isolation.keeper, "--probe"});
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) fds[0] = fds[1] = -1;
    const UniqueFd errRead(fds[0]);
    UniqueFd errWrite(fds[1]);
    std::vector<std::string> environment = OwnEnvironment([](std::string_view) { return false; });
    int socketPair[2] = {-1, -1};
    (void)::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, socketPair);
    const UniqueFd socketOurs(socketPair[0]);
    const UniqueFd socketTheirs(socketPair[1]);
    const KeeperDescriptors descriptors(errWrite.get(), errWrite.get(), socketTheirs.get());
    const pid_t pid = descriptors.Valid() ? Spawn(command, environment, descriptors) : -1;
    errWrite = UniqueFd();
    int status = 0;
    if (pid > 0) {
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      isolation.sandbox = true;
      return isolation;
    }
    char said[512] = {};
    const ssize_t nRead = errRead.get() < 0 ? -1 : ::read(errRead.get(), said, sizeof said - 1);
    std::string text(said, nRead > 0 ? static_cast<std::size_t>(nRead) : 0);
    text = text.substr(0, text.find('\n'));
    whyNot = isolation.bwrap + " cannot make a sandbox here" + (text.empty() ? "" : ": " + text);
  }
  if (mode == SandboxMode::Require) {
    why = "no sandbox (--sandbox=require): " + whyNot;
    return std::nullopt;
  }
  isolation.why = whyNot;
  return isolation;
}

std::optional<BaseFolder> BaseFolder::MakeTemporary(std::string& why) {
  const char* pszTmp = std::getenv("TMPDIR");
  std::string pattern = std::string(pszTmp != nullptr && *pszTmp != '\0' ? pszTmp : "/tmp") +
                        "/umx-agent-check-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    why = "cannot make a folder like " + pattern + ": " + Errno();
    return std::nullopt;
  }
  std::string path = fs::absolute(pattern).lexically_normal().string();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) {
    why = "cannot open " + path + ": " + Errno();
    (void)::rmdir(path.c_str());
    return std::nullopt;
  }
  return BaseFolder(std::move(path), std::move(fd), true);
}

std::optional<BaseFolder> BaseFolder::Keep(const std::string& path, std::string& why) {
  std::string absolute = fs::absolute(path).lexically_normal().string();
  UniqueFd fd(::open(absolute.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) {
    why = "cannot open " + path + ": " + Errno();
    return std::nullopt;
  }
  return BaseFolder(std::move(absolute), std::move(fd), false);
}

BaseFolder::BaseFolder(std::string path, UniqueFd fd, bool bTemporary)
    : m_path(std::move(path)), m_fd(std::move(fd)), m_bTemporary(bTemporary) {}

BaseFolder::BaseFolder(BaseFolder&& other) noexcept
    : m_path(std::move(other.m_path)),
      m_fd(std::move(other.m_fd)),
      m_bTemporary(std::exchange(other.m_bTemporary, false)) {}

BaseFolder::~BaseFolder() { (void)Remove(); }

std::string BaseFolder::Remove() {
  if (!m_bTemporary || m_path.empty()) return {};
  m_bTemporary = false;
  m_fd = UniqueFd();
  return RemoveTree(m_path);
}

std::optional<ScenarioFolder> MakeScenarioFolder(const BaseFolder& base, const std::string& label,
                                                 std::string& why) {
  // Random: an agent that knows the labels cannot put anything at a
  // scenario's name before it is made.
  unsigned char random[6] = {};
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    why = "cannot name a folder in " + base.Path() + ": " + Errno();
    return std::nullopt;
  }
  std::string name = label + "-";
  for (const unsigned char byte : random)
    name += "abcdefghijklmnopqrstuvwxyz234567"[byte & 31];
  if (::mkdirat(base.Fd(), name.c_str(), 0700) != 0) {
    why = "cannot make " + base.Path() + "/" + name + ": " + Errno();
    return std::nullopt;
  }
  ScenarioFolder folder{
      base.Path() + "/" + name,
      UniqueFd(::openat(base.Fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))};
  if (folder.fd.get() < 0) {
    why = "cannot open " + folder.path + ": " + Errno();
    return std::nullopt;
  }
  return std::optional<ScenarioFolder>(std::move(folder));
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

std::string FolderLabel(std::size_t n, const std::string& name) {
  std::string folder = (n < 10 ? "0" : "") + std::to_string(n) + "-";
  for (const char c : name) {
    folder += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ? c : '_';
  }
  return folder;
}

std::string ReproduceCommand(const RunRequest& request) {
  const std::string folders =
      "d=$(mktemp -d) && mkdir \"$d/root\" \"$d/work\" && : >\"$d/transcript.jsonl\" && "
      "cd \"$d/work\" && ";
  std::string run =
      "RK_LOCAL_PLATFORM_ROOT=\"$d/root\" RK_LOCAL_PLATFORM_TRANSCRIPT=\"$d/transcript.jsonl\"";
  if (!request.faults.empty()) run += " RK_LOCAL_PLATFORM_FAULTS=" + ShellQuoted(request.faults);
  if (request.crashAt != 0 && !request.isolation->interposer.empty()) {
    run += " LD_PRELOAD=" + ShellQuoted(request.isolation->interposer) +
           " UMX_CRASH_AT=" + std::to_string(request.crashAt);
  }
  run += " " + ShellQuoted(request.program);
  for (const std::string& arg : request.args)
    run += " " + ShellQuoted(arg);
  if (!request.cancel) return folders + run;
  // SIGTERM once the platform holds the call, as the check sends it.
  return folders + "{ " + run +
         " & p=$!; until grep -qs '\"held\"' \"$d/transcript.jsonl\"; do sleep 0.1; done; "
         "kill -TERM $p; wait $p; }";
}

RunResult RunAgent(const RunRequest& request, Evidence& evidence) {
  RunResult result;
  const std::string& folder = request.folder->path;
  result.root = folder + "/root";
  result.outPath = folder + "/stdout";
  result.errPath = folder + "/stderr";
  result.transcriptPath = folder + "/transcript.jsonl";
  result.changesPath = folder + "/changes";
  const std::string work = folder + "/work";
  const auto fail = [&result, &folder](const std::string& what) {
    result.startError = "cannot " + what + " in " + folder + ": " + Errno();
    return result;
  };
  const Outputs outputs = MakeOutputs(request.folder->fd.get());
  if (!outputs.Made()) return fail("make the outputs, root and working folders");

  int socketPair[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, socketPair) != 0)
    return fail("make a socket");
  const UniqueFd socket(socketPair[0]);
  UniqueFd keeperEnd(socketPair[1]);
  std::vector<std::string> command;
  const Isolation& isolation = *request.isolation;
  if (isolation.sandbox) {
    const std::string base = folder.substr(0, folder.find_last_of('/'));
    command = SandboxCommand(isolation, request.program, base, result.root, work,
                             result.transcriptPath, result.changesPath);
  }
  command.insert(command.end(), {isolation.keeper, work, request.program});
  command.insert(command.end(), request.args.begin(), request.args.end());
  std::vector<std::string> environment = AgentEnvironment(request, result);

  {
    // Gone, and all it held with it, before anything the agent left is read.
    KeeperProcess keeper(command, environment,
                         KeeperDescriptors(outputs.out.get(), outputs.err.get(), keeperEnd.get()),
                         isolation.sandbox);
    if (!keeper.Started()) return fail("start " + command.front());
    keeperEnd = UniqueFd();  // the keeper's alone now: its end closes when it does
    Supervision(request, result, keeper, socket.get()).Wait();
  }
  if (!result.startError.empty() && isolation.sandbox) {
    // What the sandbox said when it could not start went to stderr.
    Evidence said;
    Collect(request, outputs, result, said);
    if (!said.errTail.empty())
      result.startError += ": " + said.errTail.substr(0, said.errTail.find('\n'));
    return result;
  }
  Collect(request, outputs, result, evidence);
  return result;
}

}  // namespace AgentCheck
