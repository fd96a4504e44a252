// The agent check's command line: what it takes and refuses, the --keep
// folder and report files it accepts, the options' documentation, and the
// verdicts an expectations file may name.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "CommandLine.h"
#include "Runner.h"
#include "Verdicts.h"

namespace {

using namespace AgentCheck;

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts)
    joined += (joined.empty() ? "" : ",") + text;
  return joined;
}

// The options that a command line can change, in one line.
std::string Described(const Options& options) {
  std::ostringstream text;
  text << "j=" << options.jobs << " timeout=" << options.timeLimit << " json=" << options.json
       << " junit=" << options.junit << " expect=" << options.expect << " keep=" << options.keep
       << " only=" << Joined(options.only) << " list=" << options.list << " help=" << options.help
       << " version=" << options.version << " agent=" << options.agent
       << " args=" << Joined(options.args);
  return text.str();
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(AgentCheckCommandLine, TakesOptionsInEitherFormAndStopsAtTheAgent) {
  const std::string defaults = "j=2 timeout=10 json= junit= expect= keep= only= ";
  const struct {
    std::vector<std::string> args;
    std::string described;
  } cases[] = {
      {{"--", "./agent"}, defaults + "list=0 help=0 version=0 agent=./agent args="},
      {{"./agent", "-j", "5", "--json", "r"},
       defaults + "list=0 help=0 version=0 agent=./agent args=-j,5,--json,r"},
      {{"-j4", "--timeout=2.5", "--json", "r.json", "--junit=-", "--expect", "e", "--keep=k",
        "--only", "fault:*", "--only=cancel:init", "--", "a", "--list"},
       "j=4 timeout=2.5 json=r.json junit=- expect=e keep=k only=fault:*,cancel:init list=0 "
       "help=0 version=0 agent=a args=--list"},
      {{"--json", "-", "a"},
       "j=2 timeout=10 json=- junit= expect= keep= only= list=0 help=0 version=0 agent=a args="},
      {{"--list"}, defaults + "list=1 help=0 version=0 agent= args="},
      {{"--list", "--", "a", "-j", "7"}, defaults + "list=1 help=0 version=0 agent=a args=-j,7"},
      {{"--help", "--bogus"}, defaults + "list=0 help=1 version=0 agent= args="},
      {{"-h"}, defaults + "list=0 help=1 version=0 agent= args="},
      {{"--version"}, defaults + "list=0 help=0 version=1 agent= args="},
  };
  for (const auto& c : cases) {
    std::string why;
    const std::optional<Options> options = ParseOptions(c.args, why);
    ASSERT_TRUE(options) << Joined(c.args) << ": " << why;
    EXPECT_EQ(Described(*options), c.described) << Joined(c.args);
  }
}

TEST(AgentCheckCommandLine, RefusesWhatItCannotTakeSayingWhy) {
  const struct {
    std::vector<std::string> args;
    std::string why;
  } cases[] = {
      {{}, "no agent given (umx-agent-check [options] -- AGENT [AGENT OPTIONS...])"},
      {{"--json", "r.json"},
       "no agent given (umx-agent-check [options] -- AGENT [AGENT OPTIONS...])"},
      {{"--bogus", "a"}, "unknown option --bogus"},
      {{"--bogus=1", "a"}, "unknown option --bogus"},
      {{"--tim", "3", "a"}, "unknown option --tim"},
      {{"--j", "r", "a"}, "unknown option --j"},
      {{"-x", "a"}, "unknown option -x"},
      {{"--\x1b[2J", "a"}, "unknown option --\\x1b[2J"},
      {{"--json"}, "--json needs a value"},
      {{"--json=", "a"}, "--json needs a value"},
      {{"--keep", "", "a"}, "--keep needs a value"},
      {{"-j"}, "-j needs a value"},
      {{"--list=yes"}, "--list takes no value"},
      {{"-j", "0", "a"}, "-j takes a whole number from 1 to 64, not \"0\""},
      {{"-j", "2.5", "a"}, "-j takes a whole number from 1 to 64, not \"2.5\""},
      {{"-j", "65", "a"}, "-j takes a whole number from 1 to 64, not \"65\""},
      {{"--timeout", "soon", "a"}, "--timeout takes a number of seconds above 0, not \"soon\""},
      {{"--timeout", "\x1b[31m", "a"},
       "--timeout takes a number of seconds above 0, not \"\\x1b[31m\""},
      {{"--json", "-", "--junit", "-", "a"}, "--json and --junit cannot both go to stdout"},
      {{"--json", "r", "--junit=r", "a"}, "--json and --junit name the same file"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(ParseOptions(c.args, why)) << Joined(c.args);
    EXPECT_EQ(why, c.why) << Joined(c.args);
  }
}

TEST(AgentCheckCommandLine, KeepTakesOnlyANewOrEmptyFolderOfTheUsersOwn) {
  std::string why;
  const std::optional<BaseFolder> temporary = BaseFolder::MakeTemporary(why);
  ASSERT_TRUE(temporary) << why;
  const std::string base = temporary->Path();
  const bool bRoot = ::geteuid() == 0;
  const struct {
    const char* name;
    std::function<void(const std::string&)> make;
    std::string refusal;  // empty: taken
  } cases[] = {
      {"new", [](const std::string&) {}, ""},
      {"empty", [](const std::string& path) { ::mkdir(path.c_str(), 0700); }, ""},
      {"not-empty",
       [](const std::string& path) {
         ::mkdir(path.c_str(), 0700);
         WriteAll(path + "/left", "x");
       },
       "the folder is not empty"},
      {"link",
       [](const std::string& path) {
         ::mkdir((path + "-target").c_str(), 0700);
         ASSERT_EQ(::symlink((path + "-target").c_str(), path.c_str()), 0);
       },
       "a symbolic link; name the folder itself"},
      {"others-write",
       [](const std::string& path) {
         ::mkdir(path.c_str(), 0700);
         ::chmod(path.c_str(), 0777);
       },
       "others can write to the folder (mode 0777)"},
      {"group-writes",
       [](const std::string& path) {
         ::mkdir(path.c_str(), 0700);
         ::chmod(path.c_str(), 0770);
       },
       "others can write to the folder (mode 0770)"},
      {"file", [](const std::string& path) { WriteAll(path, ""); }, "not a folder"},
      {"no-parent/keep", [](const std::string&) {}, "No such file or directory"},
      // Only root can give a folder away; for others the row proves nothing.
      {"another-users",
       [](const std::string& path) {
         ::mkdir(path.c_str(), 0700);
         ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
       },
       "the folder belongs to another user (uid 65534)"},
  };
  for (const auto& c : cases) {
    if (std::string(c.name) == "another-users" && !bRoot) {
      std::cout << "skipped: another user's folder needs root\n";
      continue;
    }
    const std::string path = base + "/" + c.name;
    c.make(path);
    const std::string refusal = PrepareKeptFolder(path);
    if (c.refusal.empty()) {
      EXPECT_EQ(refusal, "") << c.name;
      struct stat status {};
      EXPECT_EQ(::lstat(path.c_str(), &status), 0) << c.name;
      EXPECT_TRUE(S_ISDIR(status.st_mode)) << c.name;
    } else {
      EXPECT_EQ(refusal, "--keep " + path + ": " + c.refusal) << c.name;
    }
  }
}

TEST(AgentCheckCommandLine, ReportFilesAreCheckedAtOnceAndNoneIsLeftUnwritten) {
  std::string why;
  const std::optional<BaseFolder> temporary = BaseFolder::MakeTemporary(why);
  ASSERT_TRUE(temporary) << why;
  const std::string base = temporary->Path();
  WriteAll(base + "/target", "the link's target");
  ASSERT_EQ(::symlink((base + "/target").c_str(), (base + "/link").c_str()), 0);
  ASSERT_EQ(::symlink((base + "/nowhere").c_str(), (base + "/dangling").c_str()), 0);

  const struct {
    std::string path;
    std::string refusal;
  } refused[] = {
      {base + "/none/r.json", "no folder " + base + "/none"},
      {base + "/link", "a symbolic link; name the file itself"},
      {base + "/dangling", "a symbolic link; name the file itself"},
      {base, "a folder"},
  };
  for (const auto& c : refused) {
    EXPECT_FALSE(ReportFile::Open("--json", c.path, why)) << c.path;
    EXPECT_EQ(why, "--json " + c.path + ": " + c.refusal);
  }
  EXPECT_EQ(ReadAll(base + "/target"), "the link's target");
  EXPECT_FALSE(std::filesystem::exists(base + "/nowhere"));

  // A file it made goes again unless the report was written into it.
  const std::string made = base + "/made.json";
  ASSERT_TRUE(ReportFile::Open("--json", made, why)) << why;
  EXPECT_FALSE(std::filesystem::exists(made));
  {
    std::optional<ReportFile> report = ReportFile::Open("--json", made, why);
    ASSERT_TRUE(report) << why;
    EXPECT_TRUE(std::filesystem::exists(made));
    ASSERT_TRUE(report->Write("{}", why)) << why;
  }
  EXPECT_EQ(ReadAll(made), "{}");

  // A file that was there keeps what it held until the report replaces it.
  const std::string kept = base + "/kept.json";
  WriteAll(kept, "an older and longer report");
  ASSERT_TRUE(ReportFile::Open("--junit", kept, why)) << why;
  EXPECT_EQ(ReadAll(kept), "an older and longer report");
  {
    std::optional<ReportFile> report = ReportFile::Open("--junit", kept, why);
    ASSERT_TRUE(report) << why;
    ASSERT_TRUE(report->Write("new", why)) << why;
  }
  EXPECT_EQ(ReadAll(kept), "new");
  EXPECT_TRUE(ReportFile::Open("--json", "-", why)) << why;
}

// The option names in the manual page's OPTIONS section: the line after
// each ".TP", in its troff form (\-\-json).
std::set<std::string> ManualPageOptions(const std::string& page) {
  std::set<std::string> names;
  std::istringstream lines(page);
  bool bInOptions = false;
  bool bAfterTp = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".SH", 0) == 0) bInOptions = line == ".SH OPTIONS";
    if (bInOptions && bAfterTp) {
      for (std::size_t n = line.find("\\-"); n != std::string::npos; n = line.find("\\-", n)) {
        std::string name;
        for (; line.compare(n, 2, "\\-") == 0; n += 2)
          name += '-';
        while (n < line.size() && std::isalpha(static_cast<unsigned char>(line[n])))
          name += line[n++];
        names.insert(name);
      }
    }
    bAfterTp = line == ".TP";
  }
  return names;
}

// --help is made from the table; the manual page is written by hand and
// must name the same options.
TEST(AgentCheckCommandLine, TheManualPageNamesEachOptionOfTheTable) {
  std::set<std::string> table;
  for (const OptionInfo& info : OptionTable()) {
    if (info.shortName != 0) table.insert(std::string("-") + info.shortName);
    if (info.longName != nullptr) table.insert(std::string("--") + info.longName);
  }
  EXPECT_EQ(ManualPageOptions(ReadAll(UMX_SOURCE_DIR "/tools/agent-check/umx-agent-check.1")),
            table);
}

// The verdict table is the one source: --help, the manual page and the
// report's schema name each verdict, and the manual page gives its hint.
TEST(AgentCheckVerdicts, HelpManualPageAndSchemaNameEveryVerdictWithItsHint) {
  std::string manual = ReadAll(UMX_SOURCE_DIR "/tools/agent-check/umx-agent-check.1");
  for (const auto& [roff, text] :
       {std::pair<std::string, std::string>{"\\-", "-"}, {"\\(aq", "'"}}) {
    for (std::size_t n = manual.find(roff); n != std::string::npos; n = manual.find(roff, n))
      manual.replace(n, roff.size(), text);
  }
  const nlohmann::json schema =
      nlohmann::json::parse(ReadAll(UMX_SOURCE_DIR "/tools/agent-check/report.schema.json"));
  std::vector<std::string> names;
  for (const Verdict verdict : AllVerdicts()) {
    names.emplace_back(VerdictName(verdict));
    const std::string words = VerdictWords(verdict);
    EXPECT_NE(manual.find(".B " + words + "\n"), std::string::npos) << words;
    EXPECT_NE(manual.find("Hint: " + std::string(VerdictHint(verdict))), std::string::npos)
        << words;
    EXPECT_NE(Usage().find(" " + words + (verdict == AllVerdicts().back() ? "." : ",")),
              std::string::npos)
        << words;
  }
  EXPECT_EQ(schema["$defs"]["verdict"]["enum"].get<std::vector<std::string>>(), names);
}

TEST(AgentCheckVerdicts, ExpectationsNameAVerdictAsPrintedOrHyphenated) {
  const struct {
    const char* line;
    std::optional<Verdict> verdict;
    std::string why;  // the reason kept, or why the line is refused
  } cases[] = {
      {"fault:* left partial results   the summary stays", Verdict::LeftPartialResults,
       "the summary stays"},
      {"fault:* left-partial-results", Verdict::LeftPartialResults, ""},
      {"fault:* left_partial_results why", Verdict::LeftPartialResults, "why"},
      {"cancel:*\treported success\tjoins later", Verdict::ReportedSuccess, "joins later"},
      {"cancel:* not gone", Verdict::NotGone, ""},
      {"cancel:* crashed success was not", Verdict::Crashed, "success was not"},
      {"fault:* left partial", std::nullopt, "e:1: \"left\" is not a failing verdict"},
      {"fault:* passed", std::nullopt, "e:1: \"passed\" is not a failing verdict"},
      {"fault:* not reached", std::nullopt, "e:1: \"not reached\" is not a failing verdict"},
  };
  for (const auto& c : cases) {
    std::string why;
    const std::optional<std::vector<Expectation>> read = ReadExpectations(c.line, "e", why);
    if (!c.verdict) {
      EXPECT_FALSE(read) << c.line;
      EXPECT_EQ(why.substr(0, c.why.size()), c.why) << c.line;
      continue;
    }
    ASSERT_TRUE(read && read->size() == 1) << c.line << ": " << why;
    EXPECT_EQ(read->front().verdict, *c.verdict) << c.line;
    EXPECT_EQ(read->front().why, c.why) << c.line;
  }
}

}  // namespace
