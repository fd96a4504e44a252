// Runs an agent for one scenario: in a folder of the scenario's own with a
// fresh platform root and working folder, under a time limit, collecting
// what it left behind.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Tree.h"

namespace AgentCheck {

// A folder made for the check (mode 0700) and removed with all it holds when
// it goes, unless kept.
class TempFolder {
 public:
  // Under $TMPDIR (else /tmp); nullopt with the reason in `why`.
  static std::optional<TempFolder> Make(std::string& why);
  TempFolder(TempFolder&& other) noexcept;
  TempFolder& operator=(TempFolder&&) = delete;
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  const std::string& Path() const { return m_strPath; }

 private:
  explicit TempFolder(std::string path) : m_strPath(std::move(path)) {}
  std::string m_strPath;  // empty once moved from
};

// The agent's program: `name` itself when it holds a '/', else found on
// PATH; absolute, so that it runs from any working folder. Empty with the
// reason in `why` when it is no program that can be run.
std::string FindProgram(const std::string& name, std::string& why);

struct RunRequest {
  std::string program;  // absolute
  std::vector<std::string> args;
  std::string faults;   // RK_LOCAL_PLATFORM_FAULTS; empty: unset
  bool cancel = false;  // SIGTERM once the transcript shows a held call
  std::string folder;   // an empty folder of the scenario's own
  double timeLimit = 10;
  int stopFd = -1;  // readable once the check must stop: the agent is killed then
};

struct RunResult {
  std::string startError;  // the check could not prepare or start the agent; empty: it ran
  bool exited = false;     // exit status in `status`; else killed by `signal`
  int status = 0;
  int signal = 0;
  bool timedOut = false;    // still running at the time limit, and killed
  bool signalSent = false;  // cancel: SIGTERM was sent while a call was held
  bool stopped = false;     // killed because the check had to stop
  bool keeperLost = false;  // the agent killed the process that watched it
  double seconds = 0;
  // At most kMaxOut, kMaxErr and kMaxTranscript bytes of each; a flag says
  // whether the output was longer (or, for the transcript, no regular file).
  std::string out, err, transcript;
  bool outCut = false, errCut = false, transcriptCut = false;
  std::string transcriptProblem;  // why the transcript could not be read; empty: it was
  std::vector<LeftFile> files;
  bool filesComplete =
      true;  // false: past kMaxFiles entries or their paths' bound, the rest unseen
  // The command lines of the processes the agent left running when it ended.
  std::vector<std::string> leftRunning;
  std::string root, outPath, errPath, transcriptPath;
};

// What the check reads of each output and of the tree the agent left: an
// agent may write more, and is judged "cannot tell" where that matters.
constexpr std::size_t kMaxOut = 1 << 20;
constexpr std::size_t kMaxErr = 256 << 10;
constexpr std::size_t kMaxTranscript = 4 << 20;
constexpr std::size_t kMaxFiles = 20000;

RunResult RunAgent(const RunRequest& request);

}  // namespace AgentCheck
