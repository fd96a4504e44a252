#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "LogWriter.h"

namespace {

std::string ReadAll(const std::string& strPath) {
  std::ifstream in(strPath);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class StreamLogWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    char szPattern[] = "/tmp/umx-log-XXXXXX";
    const int fd = mkstemp(szPattern);
    ASSERT_GE(fd, 0);
    close(fd);
    m_strPath = szPattern;
  }
  void TearDown() override { unlink(m_strPath.c_str()); }

  std::string m_strPath;
};

TEST_F(StreamLogWriterTest, WritesOneTimestampedLinePerRecordUpToItsLevel) {
  {
    CStreamLogWriter writer(m_strPath.c_str(), 1);
    ASSERT_TRUE(writer.IsOpen());
    EXPECT_EQ(writer.GetLogLevel(), 1);
    writer.WriteLog(-1, "void Agent::Run()", 10, 42, 3, "failed: %s", "init");
    writer.WriteLog(1, "void Agent::Run()", 11, 42, 0, "path=%s\n", "/r");
    writer.WriteLog(2, "void Agent::Run()", 12, 42, 0, "too detailed");
  }
  const std::regex expected(
      "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} -1 job=42 ctx=3 "
      "void Agent::Run\\(\\):10 failed: init\n"
      "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} 1 job=42 ctx=0 "
      "void Agent::Run\\(\\):11 path=/r\n");
  const std::string text = ReadAll(m_strPath);
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(StreamLogWriterTest, AppendsToAnExistingFile) {
  for (int nLine : {1, 2}) {
    CStreamLogWriter writer(m_strPath.c_str(), 0);
    writer.WriteLog(0, "f", nLine, 0, 0, "record");
  }
  const std::string text = ReadAll(m_strPath);
  EXPECT_NE(text.find("f:1 record\n"), std::string::npos) << text;
  EXPECT_NE(text.find("f:2 record\n"), std::string::npos) << text;
}

TEST(StreamLogWriter, UnopenableFileDropsRecords) {
  CStreamLogWriter writer("/nonexistent-dir/agent.log", 5);
  EXPECT_FALSE(writer.IsOpen());
  writer.WriteLog(0, nullptr, 1, 0, 0, nullptr);

  CStreamLogWriter noPath(static_cast<const char*>(nullptr), 5);
  EXPECT_FALSE(noPath.IsOpen());
}

TEST(LogWriter, ProcessSinkIsEmptyUntilInstalled) {
  EXPECT_FALSE(g_ptrLogWriter);
}

}  // namespace
