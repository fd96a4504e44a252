#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "LogWriter.h"

namespace {

TEST(StreamLogWriter, AppendsOneTimestampedLinePerRecordUpToItsLevel) {
  char szPath[] = "/tmp/umx-log-XXXXXX";
  close(mkstemp(szPath));
  for (int nLevel : {-1, 1, 2}) {
    CStreamLogWriter writer(szPath, 1);  // reopened: each record is appended
    writer.WriteLog(nLevel, "void Run()", 10, 42, 3, "at %d\n", nLevel);
  }
  std::stringstream text;
  text << std::ifstream(szPath).rdbuf();
  unlink(szPath);
  const std::string kTime = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ";
  EXPECT_TRUE(
      std::regex_match(text.str(), std::regex(kTime + "-1 job=42 ctx=3 void Run\\(\\):10 at -1\n" +
                                              kTime + "1 job=42 ctx=3 void Run\\(\\):10 at 1\n")))
      << text.str();
}

TEST(StreamLogWriter, UnopenableFileDropsRecords) {
  CStreamLogWriter writer("/nonexistent-dir/agent.log", 5);
  EXPECT_FALSE(writer.IsOpen());
  writer.WriteLog(0, nullptr, 1, 0, 0, nullptr);
  EXPECT_FALSE(g_ptrLogWriter);  // nothing installs the process sink by itself
}

}  // namespace
