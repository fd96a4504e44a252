#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandLineArguments.h"
#include "LocalCommandLine.h"
#include "QiErrorDetail.h"
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
    CLocalCommandLineArguments arguments(static_cast<int>(c.argv.size()), c.argv.data());
    std::string value = "before";
    const CQiError error = arguments.GetOption(c.pszName, value);
    EXPECT_EQ(arguments.GetOption(c.pszName).IsError(), c.pszValue == nullptr) << c.pszName;
    if (c.pszValue == nullptr) {
      EXPECT_EQ(FXErrorDetail::GetOriginalCode(error), ERROR_NOT_FOUND);
      EXPECT_NE(FXErrorDetail::Format(error).find(std::string("-") + c.pszName), std::string::npos);
      EXPECT_EQ(value, "before");
    } else {
      EXPECT_EQ(value, c.pszValue) << c.pszName;
    }
  }
}

// Enough options that names share probe chains under any key; each is given
// twice, so every one must be found again to take its last value.
TEST(CommandLineArguments, EveryOptionOfALongCommandLineKeepsItsLastValue) {
  constexpr int kCount = 5000;
  std::vector<std::string> tokens = {"agent"};
  for (const char* pszRound : {"first", "last"}) {
    for (int i = 0; i < kCount; ++i) {
      tokens.push_back("-o" + std::to_string(i));
      tokens.push_back(pszRound + std::to_string(i));
    }
  }
  std::vector<const char*> argv;
  for (const std::string& token : tokens)
    argv.push_back(token.c_str());
  CLocalCommandLineArguments arguments(static_cast<int>(argv.size()), argv.data());
  for (int i = 0; i < kCount; ++i) {
    std::string value;
    ASSERT_FALSE(arguments.GetOption(("o" + std::to_string(i)).c_str(), value).IsError()) << i;
    ASSERT_EQ(value, "last" + std::to_string(i));
  }
  EXPECT_TRUE(arguments.GetOption(("o" + std::to_string(kCount)).c_str()).IsError());
  EXPECT_TRUE(arguments.GetOption("o").IsError());
}

TEST(CommandLineArguments, SurvivesNullArgvAndNames) {
  EXPECT_TRUE(CLocalCommandLineArguments(3, nullptr).GetOption("j").IsError());
  const char* argv[] = {"agent", "-j", nullptr};
  CLocalCommandLineArguments truncated(5, argv);
  EXPECT_FALSE(truncated.GetOption("j").IsError());
  EXPECT_EQ(FXErrorDetail::GetOriginalCode(truncated.GetOption(nullptr)), ERROR_INVALID_PARAMETER);
}

}  // namespace
