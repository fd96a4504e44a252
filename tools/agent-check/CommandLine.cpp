#include "CommandLine.h"

#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "Escape.h"
#include "Scenarios.h"
#include "UniqueFd.h"
#include "Verdicts.h"

namespace AgentCheck {
namespace {

// getopt_long's value for the long-only option at index N of the table.
constexpr int kLongOnly = 256;

const char kUsageStart[] =
    "usage: umx-agent-check [options] -- AGENT [AGENT OPTIONS...]\n"
    "       umx-agent-check --list [--json FILE] [-- AGENT [AGENT OPTIONS...]]\n"
    "\n"
    "Runs AGENT on the local platform as the job manager would: first the whole\n"
    "job, and again without -cn; then, each in a fresh platform root and working\n"
    "folder, every failure of a platform call that a whole job made (each way\n"
    "RK_LOCAL_PLATFORM_FAULTS can arm, and a throw), each option it traced left\n"
    "out, a job id and an application id that are not numbers, SIGTERM inside\n"
    "and after each platform call, and SIGKILL at its changes to the file\n"
    "system. Prints a verdict for each. The agent's options are the job's\n"
    "command line; without them:\n";

const char kUsageEnd[] =
    "\n"
    "Exit status:\n"
    "  0      every scenario passed (or was not reached, without --strict)\n"
    "  1      a scenario failed, the whole job among them\n"
    "  2      the check could not run: bad options, a report path or --keep\n"
    "         folder it cannot use, or no such agent\n"
    "  128+N  signal N (SIGINT, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE) stopped the\n"
    "         check; the agents it started are killed and its folders removed\n";

// The default command line, wrapped, and the verdicts, for the usage.
std::string DefaultsText() {
  std::string text;
  std::string line = " ";
  for (const std::string& arg : DefaultCommandLine()) {
    const std::string word = ShellQuoted(arg);
    if (line.size() + word.size() + 1 > 76) {
      text += line + "\n";
      line = " ";
    }
    line += " " + word;
  }
  text += line + "\n\nVerdicts, in the order they are looked for:\n";
  line = " ";
  for (const Verdict verdict : AllVerdicts()) {
    const std::string word = std::string(VerdictWords(verdict)) + ",";
    if (line.size() + word.size() + 1 > 76) {
      text += line + "\n";
      line = " ";
    }
    line += " " + word;
  }
  line.back() = '.';
  return text + line + "\nA failure the expectations allow is shown as tolerated.\n\n" +
         "Options (long ones spelled in full; a value as the next word or after '='):\n";
}

// "--json" or "-j": the form the reasons name an option by.
std::string NameOf(const OptionInfo& info) {
  return info.longName != nullptr ? std::string("--") + info.longName
                                  : std::string("-") + info.shortName;
}

const OptionInfo* InfoOf(int nFound) {
  const std::vector<OptionInfo>& table = OptionTable();
  if (nFound >= kLongOnly && static_cast<std::size_t>(nFound - kLongOnly) < table.size())
    return &table[static_cast<std::size_t>(nFound - kLongOnly)];
  for (const OptionInfo& info : table) {
    if (info.shortName != 0 && info.shortName == nFound) return &info;
  }
  return nullptr;
}

std::optional<double> PositiveNumber(const std::string& text) {
  char* pszEnd = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &pszEnd);
  if (text.empty() || *pszEnd != '\0' || errno != 0 || !(value > 0) || value > 86400) {
    return std::nullopt;
  }
  return value;
}

// Takes the value of `info` into `options`; why it cannot, or an empty text.
std::string Take(const OptionInfo& info, const std::string& value, Options& options) {
  const std::string name = NameOf(info);
  if (info.value != nullptr && value.empty()) return name + " needs a value";
  if (name == "-j") {
    const std::optional<double> jobs = PositiveNumber(value);
    if (!jobs || *jobs != static_cast<int>(*jobs) || *jobs > 64) {
      return "-j takes a whole number from 1 to 64, not \"" + EscapeText(value) + "\"";
    }
    options.jobs = static_cast<int>(*jobs);
  } else if (name == "--timeout") {
    const std::optional<double> seconds = PositiveNumber(value);
    if (!seconds) {
      return "--timeout takes a number of seconds above 0, not \"" + EscapeText(value) + "\"";
    }
    options.timeLimit = *seconds;
  } else if (name == "--json") {
    options.json = value;
  } else if (name == "--junit") {
    options.junit = value;
  } else if (name == "--expect") {
    options.expect = value;
  } else if (name == "--keep") {
    options.keep = value;
  } else if (name == "--only") {
    options.only.push_back(value);
  } else if (name == "--sandbox") {
    if (value == "auto") {
      options.sandbox = SandboxMode::Auto;
    } else if (value == "require") {
      options.sandbox = SandboxMode::Require;
    } else if (value == "off") {
      options.sandbox = SandboxMode::Off;
    } else {
      return "--sandbox takes auto, require or off, not \"" + EscapeText(value) + "\"";
    }
  } else if (name == "--arg") {
    options.ownArgs.push_back(value);
  } else if (name == "--repeat") {
    const std::optional<double> runs = PositiveNumber(value);
    if (!runs || *runs != static_cast<int>(*runs) || *runs > 100) {
      return "--repeat takes a whole number from 1 to 100, not \"" + EscapeText(value) + "\"";
    }
    options.repeat = static_cast<int>(*runs);
  } else if (name == "--strict") {
    options.strict = true;
  } else if (name == "--list") {
    options.list = true;
  } else if (name == "--version") {
    options.version = true;
  } else if (name == "--help") {
    options.help = true;
  }
  return {};
}

// Why getopt_long refused `word`, which it returned `nFound` for.
std::string Refusal(int nFound, const std::string& word) {
  if (nFound == ':') {
    const OptionInfo* info = InfoOf(optopt);
    return (info != nullptr ? NameOf(*info) : word) + " needs a value";
  }
  if (word.compare(0, 2, "--") == 0) {
    const std::string name = word.substr(0, word.find('='));
    // optopt holds the option's own value when it was given one it takes not.
    return optopt != 0 ? name + " takes no value" : "unknown option " + EscapeText(name);
  }
  return "unknown option -" + EscapeText(std::string(1, static_cast<char>(optopt)));
}

}  // namespace

const std::vector<OptionInfo>& OptionTable() {
  static const std::vector<OptionInfo> table = {
      {nullptr, 'j', "N", "run N scenarios at a time (default 2)"},
      {"timeout", 0, "SECS", "the time limit of each scenario (default 10)"},
      {"json", 0, "FILE",
       "write the whole report to FILE as JSON; FILE - is stdout,\n"
       "and the table then goes to stderr"},
      {"junit", 0, "FILE", "write the report to FILE as JUnit XML; - as for --json"},
      {"expect", 0, "FILE",
       "failures the agent tolerates on purpose, a line each:\n"
       "SCENARIO VERDICT [WHY]  (SCENARIO may be a shell pattern;\n"
       "VERDICT as the table prints it, or hyphenated)"},
      {"only", 0, "NAME",
       "run only the scenarios NAME matches (a shell pattern;\n"
       "may be given more than once); the whole job always runs"},
      {"keep", 0, "DIR",
       "keep each scenario's root and outputs in DIR: a new folder,\n"
       "or an empty one of yours that no other user can write to;\n"
       "not a link"},
      {"sandbox", 0, "MODE",
       "how each scenario's agent is held: auto (default), a sandbox\n"
       "of its own where the machine allows one, else a keeper that\n"
       "is the subreaper of all it starts; require, a sandbox or\n"
       "nothing; off, the keeper alone"},
      {"arg", 0, "ARG",
       "append ARG to the agent's command line (may be given more\n"
       "than once): an option of the agent's own; each such option\n"
       "gets a missing: scenario"},
      {"repeat", 0, "N", "run each scenario N times; one failing run fails it"},
      {"strict", 0, nullptr, "fail the run if any scenario is not reached"},
      {"list", 0, nullptr,
       "name the scenarios, and run nothing; needs no AGENT;\n"
       "with --json, as JSON"},
      {"version", 0, nullptr, "print the version"},
      {"help", 'h', nullptr, "this text"},
  };
  return table;
}

std::string Usage() {
  constexpr std::size_t kHelpColumn = 19;
  std::string usage = kUsageStart + DefaultsText();
  for (const OptionInfo& info : OptionTable()) {
    std::string names = "  ";
    if (info.shortName != 0) names += std::string("-") + info.shortName;
    if (info.shortName != 0 && info.longName != nullptr) names += ", ";
    if (info.longName != nullptr) names += std::string("--") + info.longName;
    if (info.value != nullptr) names += std::string(" ") + info.value;
    names.resize(std::max(names.size() + 1, kHelpColumn), ' ');
    usage += names;
    for (const char c : std::string_view(info.help)) {
      usage += c;
      if (c == '\n') usage.append(kHelpColumn, ' ');
    }
    usage += '\n';
  }
  return usage + kUsageEnd;
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& why) {
  const std::vector<OptionInfo>& table = OptionTable();
  // '+': stop at the first word that is not an option, the agent; ':': a
  // missing value is told apart from an unknown option.
  std::string shortOptions = "+:";
  std::vector<option> longOptions;
  for (std::size_t n = 0; n < table.size(); ++n) {
    const OptionInfo& info = table[n];
    const int nValue = info.shortName != 0 ? info.shortName : kLongOnly + static_cast<int>(n);
    if (info.shortName != 0) {
      shortOptions += info.shortName;
      if (info.value != nullptr) shortOptions += ':';
    }
    if (info.longName != nullptr) {
      longOptions.push_back({info.longName, info.value != nullptr ? required_argument : no_argument,
                             nullptr, nValue});
    }
  }
  longOptions.push_back({nullptr, 0, nullptr, 0});

  std::vector<std::string> words{"umx-agent-check"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  Options options;
  optind = 0;  // starts afresh, as for a new command line
  opterr = 0;
  for (;;) {
    int nLongIndex = -1;
    const int nFound =
        ::getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), &nLongIndex);
    if (nFound == -1) break;
    const std::string last = argv[optind - 1];
    if (nFound == '?' || nFound == ':') {
      why = Refusal(nFound, last);
      return std::nullopt;
    }
    const OptionInfo& info = *InfoOf(nFound);
    if (nLongIndex >= 0) {
      // getopt_long takes an abbreviation too; the check does not, so that no
      // option added later changes what a command line means.
      const std::string word =
          optarg != nullptr && optarg == argv[optind - 1] ? argv[optind - 2] : last;
      const std::string name = word.substr(0, word.find('='));
      if (name != NameOf(info)) {
        why = "unknown option " + EscapeText(name);
        return std::nullopt;
      }
    }
    why = Take(info, optarg != nullptr ? optarg : "", options);
    if (!why.empty()) return std::nullopt;
    if (options.help || options.version) return options;
  }
  if (options.json == kStandardOutput && options.junit == kStandardOutput) {
    why = "--json and --junit cannot both go to stdout";
    return std::nullopt;
  }
  if (!options.json.empty() && options.json == options.junit) {
    why = "--json and --junit name the same file";
    return std::nullopt;
  }
  if (optind < argc) {
    options.agent = words[static_cast<std::size_t>(optind)];
    options.args.assign(words.begin() + optind + 1, words.end());
  } else if (!options.list) {
    why = "no agent given (umx-agent-check [options] -- AGENT [AGENT OPTIONS...])";
    return std::nullopt;
  }
  return options;
}

std::string PrepareKeptFolder(const std::string& path) {
  const std::string named = "--keep " + EscapeText(path) + ": ";
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return named + std::strerror(errno);
  // Opened, not looked up by name, so that what is checked is what is used.
  const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) {
    const int nError = errno;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      return named + "a symbolic link; name the folder itself";
    }
    return named + (nError == ENOTDIR ? "not a folder" : std::strerror(nError));
  }
  struct stat status {};
  if (::fstat(folder.get(), &status) != 0) return named + std::strerror(errno);
  if (status.st_uid != ::geteuid()) {
    return named + "the folder belongs to another user (uid " + std::to_string(status.st_uid) + ")";
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char szMode[8];
    std::snprintf(szMode, sizeof szMode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return named + "others can write to the folder (mode " + szMode + ")";
  }
  UniqueFd listed(::dup(folder.get()));
  std::unique_ptr<DIR, DirCloser> entries(listed.get() < 0 ? nullptr : ::fdopendir(listed.get()));
  if (!entries) return named + std::strerror(errno);
  (void)listed.release();  // the DIR has it now
  while (const dirent* entry = ::readdir(entries.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      return named + "the folder is not empty";
    }
  }
  return {};
}

std::optional<ReportFile> ReportFile::Open(const std::string& option, const std::string& path,
                                           std::string& why) {
  if (path == kStandardOutput) return ReportFile(option, path, STDOUT_FILENO, false);
  const std::string named = option + " " + EscapeText(path) + ": ";
  constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
  const bool bCreated = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);
  if (fd < 0) {
    const int nError = errno;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    why = named + (nError == ELOOP    ? "a symbolic link; name the file itself"
                   : nError == EISDIR ? "a folder"
                   : nError == ENOENT ? "no folder " + EscapeText(folder.empty() ? "." : folder)
                   : nError == ENXIO  ? "a pipe that no one reads"
                                      : std::string("cannot write: ") + std::strerror(nError));
    return std::nullopt;
  }
  ReportFile report(option, path, fd, bCreated);
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISCHR(status.st_mode))) {
    why = named + "not a regular file";
    return std::nullopt;
  }
  // Non-blocking only for the open, so that a pipe without a reader is refused.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::optional<ReportFile>(std::move(report));
}

ReportFile::ReportFile(std::string option, std::string path, int fd, bool bCreated)
    : m_option(std::move(option)), m_path(std::move(path)), m_fd(fd), m_bCreated(bCreated) {}

ReportFile::ReportFile(ReportFile&& other) noexcept
    : m_option(std::move(other.m_option)),
      m_path(std::move(other.m_path)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_bCreated(other.m_bCreated),
      m_bWritten(other.m_bWritten) {}

ReportFile::~ReportFile() {
  if (m_fd < 0 || m_fd == STDOUT_FILENO) return;
  ::close(m_fd);
  if (m_bCreated && !m_bWritten) ::unlink(m_path.c_str());
}

bool ReportFile::Write(std::string_view text, std::string& why) {
  const std::string named = m_option + " " + EscapeText(m_path) + ": ";
  const auto writeAll = [&text](int fd) {
    for (std::string_view rest = text; !rest.empty();) {
      const ssize_t nWritten = ::write(fd, rest.data(), rest.size());
      if (nWritten < 0 && errno == EINTR) continue;
      if (nWritten <= 0) {
        if (nWritten == 0) errno = EIO;
        return false;
      }
      rest.remove_prefix(static_cast<std::size_t>(nWritten));
    }
    return true;
  };
  struct stat status {};
  if (m_fd == STDOUT_FILENO || ::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    if (m_fd == STDOUT_FILENO) std::fflush(stdout);
    if (!writeAll(m_fd)) {
      why = named + "cannot write: " + std::strerror(errno);
      return false;
    }
    m_bWritten = true;
    return true;
  }
  // A file is written whole beside its place and renamed into it, so that
  // the report found there is this one, complete, whatever was done to the
  // file meanwhile.
  const std::filesystem::path target(m_path);
  std::string temporary =
      (target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path()) /
      ("." + target.filename().string() + ".XXXXXX");
  const UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) {
    why = named + "cannot write beside it: " + std::strerror(errno);
    return false;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const bool bWritten =
      ::fchmod(fd.get(), m_bCreated ? 0666 & ~mask : status.st_mode & 07777) == 0 &&
      writeAll(fd.get()) && ::fsync(fd.get()) == 0 &&
      ::rename(temporary.c_str(), m_path.c_str()) == 0;
  if (!bWritten) {
    why = named + "cannot write: " + std::strerror(errno);
    (void)::unlink(temporary.c_str());
    return false;
  }
  m_bWritten = true;
  return true;
}

}  // namespace AgentCheck
