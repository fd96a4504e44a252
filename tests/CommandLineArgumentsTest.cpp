#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandLineArguments.h"
#include "WinTypes.h"

namespace {

TEST(CommandLineArguments, FollowsTheJobManagersSyntax) {
  const struct {
    std::vector<const char*> argv;  // argv[0] is the program
    const char* pszName;
    const char* pszValue;  // null: absent
  } cases[] = {
      {{"-j", "-j", "42", "-cn", "c"}, "j", "42"},
      {{"agent", "-a", "-1:5", "-j", "1"}, "a", "-1:5"},
      {{"agent", "-d", "-", "-j", "1"}, "d", "-"},
      {{"agent", "-synthfull", "-j", "1"}, "synthfull", ""},
      {{"agent", "-j", "1", "-j"}, "j", ""},
      {{"agent", "-j", "1", "-j", "2"}, "j", "2"},
      {{"agent", "-J", "1", "stray"}, "j", nullptr},
      {{"agent", "stray"}, "stray", nullptr},
  };
  for (const auto& c : cases) {
    CCommandLineArguments arguments(static_cast<int>(c.argv.size()), c.argv.data());
    std::string value = "before";
    const CQiError error = arguments.GetOption(c.pszName, value);
    EXPECT_EQ(arguments.GetOption(c.pszName).IsError(), c.pszValue == nullptr) << c.pszName;
    if (c.pszValue == nullptr) {
      EXPECT_EQ(error.GetOriginalCode(), ERROR_NOT_FOUND);
      EXPECT_NE(error.Format().find(std::string("-") + c.pszName), std::string::npos);
      EXPECT_EQ(value, "before");
    } else {
      EXPECT_EQ(value, c.pszValue) << c.pszName;
    }
  }
}

TEST(CommandLineArguments, SurvivesNullArgvAndNames) {
  EXPECT_TRUE(CCommandLineArguments(3, nullptr).GetOption("j").IsError());
  const char* argv[] = {"agent", "-j", nullptr};
  CCommandLineArguments truncated(5, argv);
  EXPECT_FALSE(truncated.GetOption("j").IsError());
  EXPECT_EQ(truncated.GetOption(nullptr).GetOriginalCode(), ERROR_INVALID_PARAMETER);
}

}  // namespace
