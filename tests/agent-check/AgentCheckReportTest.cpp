// How the agent check shows what an agent wrote: escaped on the terminal,
// strict UTF-8 JSON with the exact bytes kept, well-formed JUnit XML; and
// how it reads a transcript that an agent may have written itself.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Escape.h"
#include "Evidence.h"
#include "Report.h"
#include "Utf8.h"

namespace {

using namespace AgentCheck;
using Json = nlohmann::json;

// Shows nothing a terminal acts on, and nothing that is not UTF-8.
void ExpectSafe(const std::string& shown) {
  EXPECT_TRUE(IsUtf8(shown)) << shown;
  for (const char c : shown) {
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << shown;
  }
}

TEST(AgentCheckEscape, PrintableUtf8StaysAndEveryOtherByteIsEscaped) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0",
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"},
      {"\xe2\x80\x8d \xed\x9f\xbf \xf4\x8f\xbf\xbd", "\xe2\x80\x8d \xed\x9f\xbf \xf4\x8f\xbf\xbd"},
      {"back\\slash \\x41", "back\\slash \\x41"},
      // C0, DEL and C1 controls
      {"\x1b[31mred", "\\x1b[31mred"},
      {"a\nb\tc\r", "a\\x0ab\\x09c\\x0d"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"\x7f", "\\x7f"},
      {"\xc2\x80\xc2\x85\xc2\x9b\xc2\x9f", "\\xc2\\x80\\xc2\\x85\\xc2\\x9b\\xc2\\x9f"},
      // overlong forms, surrogates, beyond U+10FFFF, bytes UTF-8 never uses
      {"\xc0\xaf \xc1\xbf", "\\xc0\\xaf \\xc1\\xbf"},
      {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},
      {"\xf0\x80\x80\xaf", "\\xf0\\x80\\x80\\xaf"},
      {"\xed\xa0\x80\xed\xbf\xbf", "\\xed\\xa0\\x80\\xed\\xbf\\xbf"},
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
      {"\xf5\x80\x80\x80", "\\xf5\\x80\\x80\\x80"},
      {"\xfe\xff", "\\xfe\\xff"},
      // stray continuation bytes, sequences cut short at the end and within
      {"\x80x\xbf", "\\x80x\\xbf"},
      {"\xe2\x82", "\\xe2\\x82"},
      {"\xe2\x82"
       "A",
       "\\xe2\\x82"
       "A"},
      {"x\xf0\x9f\x98", "x\\xf0\\x9f\\x98"},
      {"\xc3\xc3\xa9", "\\xc3\xc3\xa9"},
      // noncharacters, and marks that reorder a line or break it, which the
      // literals hold on purpose
      // NOLINTBEGIN(misc-misleading-bidirectional)
      {"\xef\xbf\xbe \xef\xbf\xbf", "\\xef\\xbf\\xbe \\xef\\xbf\\xbf"},
      {"\xef\xb7\x90 \xf4\x8f\xbf\xbf", "\\xef\\xb7\\x90 \\xf4\\x8f\\xbf\\xbf"},
      {"a\xe2\x80\xae"
       "b",
       "a\\xe2\\x80\\xae"
       "b"},
      {"\xe2\x81\xa6 \xd8\x9c \xe2\x80\xa8", "\\xe2\\x81\\xa6 \\xd8\\x9c \\xe2\\x80\\xa8"},
      // NOLINTEND(misc-misleading-bidirectional)
  };
  for (const auto& c : cases) {
    const std::string shown = EscapeText(c.text);
    EXPECT_EQ(shown, c.shown) << c.shown;
    EXPECT_EQ(EscapeText(shown), shown) << "escaped twice: " << c.shown;
    ExpectSafe(shown);
  }
}

// A replay command's words: what bash reads back is the text itself, and
// what the terminal shows is escaped.
TEST(AgentCheckEscape, ShellQuotedWordsReadBackAsTheTextAndShowSafely) {
  const struct {
    std::string text;
    std::string word;
  } cases[] = {
      {"-j", "-j"},
      {"/usr/bin/agent", "/usr/bin/agent"},
      {"", "''"},
      {"local client", "'local client'"},
      {"it's", "'it'\\''s'"},
      {"caf\xc3\xa9", "'caf\xc3\xa9'"},
      {"local client\xc3\xa9\x1b", "$'local client\xc3\xa9\\x1b'"},
      {"a'b\\c\n", "$'a\\'b\\\\c\\x0a'"},
  };
  for (const auto& c : cases) {
    const std::string word = ShellQuoted(c.text);
    EXPECT_EQ(word, c.word) << c.word;
    ExpectSafe(word);
  }
}

TEST(AgentCheckReport, LastLinesShowTheEndOfAnOutputEscapedAndCut) {
  const std::string longLine(500, 'x');
  // A two-byte character across the cut is left out whole.
  const std::string acrossCut = std::string(159, 'y') + "\xc3\xa9" + "zz";
  const struct {
    std::string text;
    int nLines;
    std::string shown;
  } cases[] = {
      {"", 5, ""},
      {"\n \n\t\n", 5, ""},
      {"a\nb\nc\n", 2, "  | b\n  | c\n"},
      {"a\nb\n\n  \n", 5, "  | a\n  | b\n"},
      {"no end", 5, "  | no end\n"},
      {"dos\r\n", 5, "  | dos\n"},
      {"\x1b]0;title\x07 \xff\n", 5, "  | \\x1b]0;title\\x07 \\xff\n"},
      {longLine + "\n", 1, "  | " + longLine.substr(0, 160) + " ...\n"},
      {acrossCut, 1, "  | " + std::string(159, 'y') + " ...\n"},
      {std::string(10000, 'w') + "\nlast\n", 1, "  | last\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LastLines(c.text, c.nLines), c.shown) << c.text.substr(0, 40);
  }
  EXPECT_LE(LastLines(std::string(1 << 20, '\n') + std::string(1 << 20, 'v'), 5).size(), 200u);
}

TEST(AgentCheckTranscript, RecordsAreReadAndEachBadLineIsNamedWithoutItsText) {
  std::string deep;
  for (int i = 0; i < 20; ++i)
    deep += "{\"a\":";
  deep += "1" + std::string(20, '}');
  const struct {
    std::string text;
    std::size_t nRecords;
    std::vector<std::string> problems;
  } cases[] = {
      {"", 0, {}},
      {"{\"call\":\"init\"}\n", 1, {}},
      {"{\"call\":\"init\"}", 1, {"transcript line 1 is cut"}},
      {"{\"call\":\"init\"}\n{\"call\":\"get", 1, {"transcript line 2 is cut"}},
      {"{\"call\":\"init\"}\n{\"call\":\"init\"}", 2, {"transcript line 2 is cut"}},
      {"\n\xff", 0, {"transcript line 1 is not JSON (byte 1)", "transcript line 2 is cut"}},
      {"not json\n", 0, {"transcript line 1 is not JSON (byte 2)"}},
      {"\n", 0, {"transcript line 1 is not JSON (byte 1)"}},
      {"{\"call\":\"a\"} x\n", 0, {"transcript line 1 is not JSON (byte 14)"}},
      {"{\"call\":\"\xff\"}\n", 0, {"transcript line 1 is not JSON (byte 10)"}},
      {"{\"call\":\"a\x01"
       "b\"}\n",
       0,
       {"transcript line 1 is not JSON (byte 11)"}},
      {"[{\"call\":\"init\"}]\n", 0, {"transcript line 1 is not an object"}},
      {"5\n", 0, {"transcript line 1 is not an object"}},
      {"\"init\"\n", 0, {"transcript line 1 is not an object"}},
      {"{}\n", 0, {"transcript line 1 names no call"}},
      {"{\"call\":5}\n", 0, {"transcript line 1 names no call"}},
      {"{\"call\":\"\"}\n", 0, {"transcript line 1 names no call"}},
      {"{\"args\":{\"call\":\"init\"}}\n", 0, {"transcript line 1 names no call"}},
      {deep + "\n", 0, {"transcript line 1 is nested too deeply"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> problems;
    const std::vector<CallRecord> records = ReadTranscript(c.text, problems);
    EXPECT_EQ(records.size(), c.nRecords) << c.text;
    EXPECT_EQ(problems, c.problems) << c.text;
  }

  std::vector<std::string> problems;
  const std::vector<CallRecord> records = ReadTranscript(
      R"({"failed":1,"call":"init","state":"returned"})"
      "\n"
      R"({"call":"getName","args":{"failed":true,"state":"x","dir":"no"},"failed":true})"
      "\n"
      R"({"out":{"a":[{"dir":"no"}],"x":{"dir":"no"},"dir":"/r"},"call":"getJobResultsDirectory"})"
      "\n",
      problems);
  EXPECT_TRUE(problems.empty());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].call, "init");
  EXPECT_EQ(records[0].state, "returned");
  EXPECT_FALSE(records[0].failed);
  EXPECT_TRUE(records[1].failed);
  EXPECT_EQ(records[1].state, "");
  EXPECT_EQ(records[1].outDir, "");
  EXPECT_EQ(records[2].outDir, "/r");
}

TEST(AgentCheckTranscript, ProblemsStayFewHoweverManyLinesAreBad) {
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += "{}\n";
  std::vector<std::string> problems;
  EXPECT_TRUE(ReadTranscript(text, problems).empty());
  ASSERT_EQ(problems.size(), 11u);
  EXPECT_EQ(problems.back(), "transcript: 99990 more lines like these");
}

// A check of an agent whose texts hold controls and bytes that are not UTF-8.
struct HostileRun {
  Check check{"1.0.0",
              "/bin/ag\xff"
              "ent",
              {"-j", "1\x1b[2J", "caf\xc3\xa9"},
              10,
              2,
              "sandbox",
              "/tmp/k\xfe",
              1.5};
  std::vector<ScenarioResult> results;

  HostileRun() {
    ScenarioResult& crashed = results.emplace_back();
    crashed.scenario.name = "fault:resultsdir=5";
    crashed.scenario.kind = Kind::Fault;
    crashed.ran = true;
    crashed.run.signal = SIGABRT;
    crashed.run.seconds = 0.0042;
    crashed.evidence.errTail = "starting\nboom \xff\x1b]0;title\x07 <&>\n\n";
    crashed.run.root = "/tmp/k\xfe/root";
    crashed.judgement = {Verdict::Crashed, "killed by SIGABRT", false, false};

    ScenarioResult& notReached = results.emplace_back();
    notReached.scenario.name = "fault:getname=1168";
    notReached.judgement = {Verdict::NotReached, "the whole job made no \"getName\" call", true,
                            false};

    ScenarioResult& tolerated = results.emplace_back();
    tolerated.scenario.name = "fault:hostname=31";
    tolerated.ran = true;
    tolerated.run.exited = true;
    tolerated.judgement = {Verdict::LeftPartialResults,
                           "left a\xc2\x85\xef\xbf\xbe"
                           "b\xc0",
                           true, true};

    ScenarioResult& passed = results.emplace_back();
    passed.scenario.name = "missing:-j";
    passed.ran = true;
    passed.run.exited = true;
    passed.run.status = 2;
    passed.judgement = {Verdict::Passed, "exit 2", true, false};
  }
};

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (const char c : bytes) {
    char szByte[3];
    std::snprintf(szByte, sizeof szByte, "%02x", static_cast<unsigned char>(c));
    hex += szByte;
  }
  return hex;
}

// What python3 prints for `script` reading `input` on stdin; nullopt when
// there is no python3 to run.
std::optional<std::string> Python(const std::string& script, const std::string& input) {
  if (std::system("command -v python3 >/dev/null 2>&1") != 0) return std::nullopt;
  char szPath[] = "/tmp/umx-report-XXXXXX";
  const int fd = mkstemp(szPath);
  if (fd < 0) return std::nullopt;
  ::close(fd);
  std::ofstream(szPath, std::ios::binary) << input;
  const std::string command = "python3 -c '" + script + "' <" + szPath + " 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char szBuffer[4096];
    for (std::size_t n; (n = std::fread(szBuffer, 1, sizeof szBuffer, pipe)) > 0;)
      output.append(szBuffer, n);
    pclose(pipe);
  }
  std::remove(szPath);
  return output;
}

TEST(AgentCheckReport, JsonIsStrictUtf8AndKeepsTheExactBytesBeside) {
  const HostileRun hostile;
  const std::string document = JsonReport(hostile.check, hostile.results);
  ASSERT_TRUE(IsUtf8(document));
  const Json report = Json::parse(document);  // strict: throws on anything but JSON in UTF-8
  EXPECT_EQ(report["version"], kReportVersion);
  EXPECT_EQ(report["program"],
            "/bin/ag\xef\xbf\xbd"
            "ent");
  EXPECT_EQ(report["programBytes"], Hex(hostile.check.program));
  EXPECT_EQ(report["commandLine"][2], "1\x1b[2J");
  EXPECT_EQ(report["commandLineBytes"],
            Json::array({Hex(hostile.check.program), nullptr, nullptr, nullptr}));
  EXPECT_EQ(report["keptIn"], "/tmp/k\xef\xbf\xbd");
  EXPECT_EQ(report["keptInBytes"], Hex(hostile.check.keptIn));
  const Json& crashed = report["scenarios"][0];
  EXPECT_EQ(crashed["seconds"], 0.004);
  EXPECT_EQ(crashed["exit"]["signal"], "SIGABRT");
  EXPECT_EQ(crashed["stderrTail"], "starting\nboom \xef\xbf\xbd\x1b]0;title\x07 <&>");
  EXPECT_EQ(crashed["stderrTailBytes"], Hex("starting\nboom \xff\x1b]0;title\x07 <&>"));
  EXPECT_EQ(crashed["kept"]["rootBytes"], Hex(hostile.results[0].run.root));
  EXPECT_FALSE(crashed["kept"].contains("stdoutBytes"));
  const Json& tolerated = report["scenarios"][2];
  EXPECT_EQ(tolerated["reasonBytes"], Hex(hostile.results[2].judgement.reason));
  EXPECT_EQ(tolerated["stderrTail"], nullptr);
  EXPECT_FALSE(report["scenarios"][3].contains("reasonBytes"));

  const std::optional<std::string> python = Python(
      "import json, sys; json.loads(sys.stdin.buffer.read().decode(\"utf-8\", \"strict\")); "
      "print(\"strict\")",
      document);
  if (!python) GTEST_SKIP() << "no python3 to read the JSON with";
  EXPECT_EQ(*python, "strict\n");
}

TEST(AgentCheckReport, JunitIsWellFormedXmlWithAFailureSkipOrNoteForEachScenario) {
  const HostileRun hostile;
  const std::string xml = JunitReport(hostile.check, hostile.results);
  EXPECT_TRUE(IsUtf8(xml));
  for (const char c : xml) {
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << "a control character";
  }
  const std::string forbidden[] = {"\xef\xbf\xbe", "\xc2\x85", "\x1b", "<&>"};
  for (const std::string& text : forbidden)
    EXPECT_EQ(xml.find(text), std::string::npos) << Hex(text);
  EXPECT_NE(xml.find("&lt;&amp;&gt;"), std::string::npos);

  const std::optional<std::string> python = Python(
      "import sys, xml.etree.ElementTree as E\n"
      "root = E.fromstring(sys.stdin.buffer.read())\n"
      "suite = root.find(\"testsuite\")\n"
      "print(root.tag, *(suite.get(a) for a in (\"tests\", \"failures\", \"skipped\", \"time\")))\n"
      "for case in suite.iter(\"testcase\"):\n"
      "    print(case.get(\"classname\"), case.get(\"name\"), case.get(\"time\"),\n"
      "          *(\"%s=%s\" % (c.tag, c.get(\"message\") or c.text) for c in case))\n",
      xml);
  if (!python) GTEST_SKIP() << "no python3 to read the XML with";
  EXPECT_EQ(*python,
            "testsuites 4 1 1 1.500\n"
            "umx-agent-check.fault fault:resultsdir=5 0.004 failure=crashed\n"
            "umx-agent-check.whole-job fault:getname=1168 0.000 "
            "skipped=the whole job made no \"getName\" call\n"
            "umx-agent-check.whole-job fault:hostname=31 0.000 system-out=tolerated: left partial "
            "results: left a\\xc2\\x85\\xef\\xbf\\xbeb\\xc0\n"
            "umx-agent-check.whole-job missing:-j 0.000\n");
  const std::optional<std::string> failure = Python(
      "import sys, xml.etree.ElementTree as E\n"
      "print(E.fromstring(sys.stdin.buffer.read()).find(\".//failure\").text)",
      xml);
  ASSERT_TRUE(failure);
  EXPECT_EQ(
      *failure,
      "killed by SIGABRT\nstderr ends:\n  | starting\n  | boom \\xff\\x1b]0;title\\x07 <&>\n\n");
}

TEST(AgentCheckReport, TableLineEscapesTheDetailAndShowsACrashsStderr) {
  const HostileRun hostile;
  EXPECT_EQ(TableLine(hostile.results[0], 20, false, false),
            "fault:resultsdir=5    crashed                 killed by SIGABRT, 4 ms\n"
            "  | starting\n"
            "  | boom \\xff\\x1b]0;title\\x07 <&>\n"
            "  hint: " +
                std::string(VerdictHint(Verdict::Crashed)) + "\n");
  EXPECT_EQ(TableLine(hostile.results[2], 20, false, false),
            "fault:hostname=31     tolerated               left partial results: left "
            "a\\xc2\\x85\\xef\\xbf\\xbeb\\xc0, 0 ms\n");
}

}  // namespace
