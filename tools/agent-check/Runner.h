// Runs an agent for one scenario: in a folder of the scenario's own with a
// fresh platform root and working folder, under a time limit, held by the
// keeper program inside a sandbox of its own where the machine allows one,
// and reads back what it left.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "Evidence.h"
#include "Tree.h"
#include "UniqueFd.h"

namespace AgentCheck {

enum class SandboxMode {
  Auto,     // a sandbox where the machine allows one, else the subreaper keeper
  Require,  // a sandbox, or the check does not run
  Off,      // the subreaper keeper alone
};

// How each scenario's agent is held. In a sandbox (bubblewrap): new user,
// PID, mount, network, IPC and UTS namespaces, the file system read-only
// but for the scenario's root, working folder and transcript, no
// capabilities; the keeper is its first process, so that the kernel kills
// all the agent left when it ends. Without: the keeper is the subreaper of
// all the agent starts and kills what it finds.
struct Isolation {
  bool sandbox = false;
  std::string keeper;  // the keeper program
  std::string bwrap;   // the sandbox's program; empty without one
  // The module preloaded into each agent that tells its changes to the file
  // system and kills it at a chosen one; empty when it is missing.
  std::string interposer;
  std::string why;  // without a sandbox: why there is none
  const char* Name() const { return sandbox ? "sandbox" : "subreaper"; }
};

// The keeper program, and for Auto and Require a sandbox if one can be made
// here: nullopt with the reason in `why` when the check cannot run so.
std::optional<Isolation> FindIsolation(SandboxMode mode, std::string& why);

// The folder that holds every scenario's folder: a new one under $TMPDIR
// (else /tmp), removed with all it holds when it goes, or a kept one.
class BaseFolder {
 public:
  // A new temporary folder (mode 0700).
  static std::optional<BaseFolder> MakeTemporary(std::string& why);
  // `path`, which PrepareKeptFolder has checked, kept when it goes.
  static std::optional<BaseFolder> Keep(const std::string& path, std::string& why);
  BaseFolder(BaseFolder&& other) noexcept;
  BaseFolder& operator=(BaseFolder&&) = delete;
  ~BaseFolder();

  const std::string& Path() const { return m_path; }
  int Fd() const { return m_fd.get(); }
  // Removes a temporary folder now; empty, or what could not be removed.
  [[nodiscard]] std::string Remove();

 private:
  BaseFolder(std::string path, UniqueFd fd, bool bTemporary);
  std::string m_path;  // absolute
  UniqueFd m_fd;
  bool m_bTemporary;
};

// A new, empty folder of one scenario's in `base`, named after `label` with
// a suffix that no agent can guess; made and opened through the base's
// descriptor, never through a name that was there before.
struct ScenarioFolder {
  std::string path;
  UniqueFd fd;
};
std::optional<ScenarioFolder> MakeScenarioFolder(const BaseFolder& base, const std::string& label,
                                                 std::string& why);

// The label of the folder for the scenario numbered `n` called `name`.
std::string FolderLabel(std::size_t n, const std::string& name);

// The agent's program: `name` itself when it holds a '/', else found on
// PATH; absolute, so that it runs from any working folder. Empty with the
// reason in `why` when it is no program that can be run.
std::string FindProgram(const std::string& name, std::string& why);

struct RunRequest {
  std::string program;  // absolute
  std::vector<std::string> args;
  std::string faults;   // RK_LOCAL_PLATFORM_FAULTS; empty: unset
  bool cancel = false;  // SIGTERM once the transcript shows a held call
  const ScenarioFolder* folder = nullptr;
  const Isolation* isolation = nullptr;
  double timeLimit = 10;
  int stopFd = -1;  // readable once the check must stop: the agent is killed then
  // The interposer is preloaded, to tell the agent's changes to the file
  // system (and, with `crashAt`, to kill it at one).
  bool interpose = false;
  std::size_t crashAt = 0;  // the change the agent is killed at, from 1; 0: none
};

struct RunResult {
  std::string startError;  // the check could not prepare or start the agent; empty: it ran
  bool exited = false;     // exit status in `status`; else killed by `signal`
  int status = 0;
  int signal = 0;
  bool timedOut = false;    // still running at the time limit, and killed
  bool signalSent = false;  // cancel: SIGTERM was sent while a call was held
  bool stopped = false;     // killed because the check had to stop
  bool keeperLost = false;  // the keeper went silent: the agent killed or stopped it
  double seconds = 0;
  // Whether each output was longer than the check reads of it (or, for the
  // transcript, no regular file).
  bool outCut = false, errCut = false, transcriptCut = false;
  std::vector<LeftFile> files;
  std::string filesIncomplete;  // why `files` is not all the agent left; empty: it is
  // The command lines of the processes the agent left running when it
  // ended, the first kMaxLeftNamed of `leftCount`.
  std::vector<std::string> leftRunning;
  int leftCount = 0;
  // The agent's changes to the file system ("rename /r/a"), the first
  // kMaxChangesKept of `changeCount`; counted only where the interposer ran.
  bool changesCounted = false;
  std::vector<std::string> changes;
  std::size_t changeCount = 0;
  std::string wroteOutside;  // the first change outside the scenario's folder; empty: none
  std::string root, outPath, errPath, transcriptPath, changesPath;
};

constexpr std::size_t kMaxChangesKept = 4096;

// What the check reads of each output and of the tree the agent left: an
// agent may write more, and is judged "cannot tell" where that matters.
constexpr std::size_t kMaxOut = 1 << 20;
constexpr std::size_t kMaxErr = 256 << 10;
constexpr std::size_t kMaxTranscript = 4 << 20;
constexpr std::size_t kMaxFiles = 20000;
constexpr std::size_t kMaxPathBytes = 2 << 20;

// The time the keeper is given, past the time limit or a stop, to kill
// what the agent started and say so; past it, the keeper is killed.
constexpr double kKeeperGraceSeconds = 1.0;

// A bash command that replays the run of `request` outside the check, in a
// new folder of its own, ending with the agent's exit status. The words are
// quoted as ShellQuoted quotes them, so that it shows safely on a terminal.
std::string ReproduceCommand(const RunRequest& request);

// Runs the agent; what its outputs showed goes to `evidence`.
RunResult RunAgent(const RunRequest& request, Evidence& evidence);

}  // namespace AgentCheck
