#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "LogWriter.h"
#include "StreamLogWriter.h"

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

TEST(StreamLogWriter, WritesControlCharactersAsHexSoEachRecordIsOneLine) {
  char* pBuffer = nullptr;
  std::size_t nSize = 0;
  std::FILE* pStream = open_memstream(&pBuffer, &nSize);
  ASSERT_NE(pStream, nullptr);
  {
    CStreamLogWriter writer(pStream, 0);
    writer.WriteLog(0, "void Run(\r)", 7, 1, 0, "a\nb\x1b[0m\x7f\\\xc3\xa9 %s\n", "c\td");
  }
  std::fclose(pStream);  // NOLINT(cppcoreguidelines-owning-memory): open_memstream's stream
  const std::string text(pBuffer, nSize);
  std::free(pBuffer);  // NOLINT(cppcoreguidelines-owning-memory): open_memstream allocated it
  const std::string kLine =
      " 0 job=1 ctx=0 void Run(\\x0d):7 a\\x0ab\\x1b[0m\\x7f\\\xc3\xa9 c\\x09d\n";
  EXPECT_EQ(text.substr(23), kLine) << text;
}

TEST(StreamLogWriter, UnopenableFileDropsRecords) {
  CStreamLogWriter writer("/nonexistent-dir/agent.log", 5);
  EXPECT_FALSE(writer.IsOpen());
  writer.WriteLog(0, nullptr, 1, 0, 0, nullptr);
  EXPECT_FALSE(g_ptrLogWriter);  // nothing installs the process sink by itself
}

}  // namespace
