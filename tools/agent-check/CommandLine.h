// The agent check's command line: its options, the usage text made from
// them, and the folder and report files they name, checked before any
// scenario runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Runner.h"

namespace AgentCheck {

// A report path that means standard output.
constexpr char kStandardOutput[] = "-";

struct Options {
  int jobs = 2;
  double timeLimit = 10;
  std::string json;   // empty: no JSON report
  std::string junit;  // empty: no JUnit report
  std::string expect;
  std::string keep;
  std::vector<std::string> only;
  SandboxMode sandbox = SandboxMode::Auto;
  std::vector<std::string> ownArgs;  // --arg: appended to the agent's command line
  int repeat = 1;                    // runs of each scenario; one failing fails it
  bool strict = false;               // a scenario not reached fails the run
  bool list = false;
  bool help = false;
  bool version = false;
  std::string agent;              // empty only for --list, --help and --version
  std::vector<std::string> args;  // empty: the default command line

  // A report goes to standard output, so the table goes to stderr.
  bool ReportsToStdout() const { return json == kStandardOutput || junit == kStandardOutput; }
};

// An option of the check; --help and the manual page name each.
struct OptionInfo {
  const char* longName;  // "json" for --json; nullptr: the short form only
  char shortName;        // 'j' for -j; 0: the long form only
  const char* value;     // "FILE"; nullptr: the option takes no value
  const char* help;      // '\n' between its lines
};
const std::vector<OptionInfo>& OptionTable();

std::string Usage();

// The options in `args`, the command line after the program's name: the
// check's options, then the agent and its options after "--" or from the
// first word that is not an option. Long options are spelled in full, their
// value after '=' or as the next word. Nullopt with the reason in `why`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& why);

// Makes `path` the folder that --keep keeps the outputs in: a new one, or an
// existing empty folder of the user's that no other can write to, reached
// without following a link at its last component. Empty when it is fit,
// else why not.
[[nodiscard]] std::string PrepareKeptFolder(const std::string& path);

// Where a report goes, opened before any scenario runs so that a path that
// cannot take it stops the check at once. "-" is standard output. A file is
// created (mode 0666 less the umask) without following a link at its last
// component, or an existing regular file or device is opened and left as it
// is until Write. A file it created is removed again unless Write filled it.
class ReportFile {
 public:
  // `option` names the option in the reasons: "--json".
  static std::optional<ReportFile> Open(const std::string& option, const std::string& path,
                                        std::string& why);
  ReportFile(ReportFile&& other) noexcept;
  ReportFile& operator=(ReportFile&&) = delete;
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;
  ~ReportFile();

  // Replaces what the file held with `text`; false with the reason in `why`.
  [[nodiscard]] bool Write(std::string_view text, std::string& why);

 private:
  ReportFile(std::string option, std::string path, int fd, bool bCreated);

  std::string m_option;
  std::string m_path;
  int m_fd;  // STDOUT_FILENO for "-", not closed; -1 once moved from
  bool m_bCreated;
  bool m_bWritten = false;
};

}  // namespace AgentCheck
