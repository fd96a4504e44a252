#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommandLineArguments.h"
#include "WinTypes.h"

namespace {

CCommandLineArguments Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "-agent");  // the program, never an option
  return CCommandLineArguments(static_cast<int>(args.size()), args.data());
}

struct SyntaxCase {
  std::vector<const char*> args;
  const char* pszName;
  bool bPresent;
  const char* pszValue;
};

class CommandLineSyntax : public testing::TestWithParam<SyntaxCase> {};

TEST_P(CommandLineSyntax, GivesEachOptionItsValue) {
  const SyntaxCase& c = GetParam();
  const CCommandLineArguments arguments = Parse(c.args);
  std::string value = "before";
  const CQiError error = arguments.GetOption(c.pszName, value);
  EXPECT_EQ(!error.IsError(), c.bPresent);
  EXPECT_EQ(!arguments.GetOption(c.pszName).IsError(), c.bPresent);
  EXPECT_EQ(value, c.bPresent ? c.pszValue : "before");
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, CommandLineSyntax,
    testing::Values(SyntaxCase{{"-j", "42", "-cn", "client"}, "cn", true, "client"},
                    SyntaxCase{{"-a", "-1:5", "-j", "1"}, "a", true, "-1:5"},
                    SyntaxCase{{"-d", "-", "-j", "1"}, "d", true, "-"},
                    SyntaxCase{{"-synthfull", "-j", "1"}, "synthfull", true, ""},
                    SyntaxCase{{"-synthfull", "-j", "1"}, "j", true, "1"},
                    SyntaxCase{{"-j", "1", "-MetaDataEnabled"}, "MetaDataEnabled", true, ""},
                    SyntaxCase{{"-j", "1", "-j", "2"}, "j", true, "2"},
                    SyntaxCase{{"-j", "1", "-j"}, "j", true, ""},
                    SyntaxCase{{"-J", "1"}, "j", false, ""},
                    SyntaxCase{{"stray", "-j", "1"}, "stray", false, ""},
                    SyntaxCase{{}, "agent", false, ""}));

TEST(CommandLineArguments, AbsentOptionIsNotFoundNamingIt) {
  const CCommandLineArguments arguments = Parse({"-j", "1"});
  std::string value;
  const CQiError error = arguments.GetOption("vm", value);
  ASSERT_TRUE(error.IsError());
  EXPECT_EQ(error.GetOriginalCode(), ERROR_NOT_FOUND);
  EXPECT_NE(error.GetFrames().at(0).strMessage.find("-vm"), std::string::npos);
  EXPECT_EQ(arguments.GetOption("vm").GetOriginalCode(), ERROR_NOT_FOUND);
}

TEST(CommandLineArguments, SurvivesMissingArgumentsAndNames) {
  const CCommandLineArguments noArgv(3, nullptr);
  EXPECT_TRUE(noArgv.GetOption("j").IsError());

  const char* argv[] = {"agent", "-j", nullptr};
  const CCommandLineArguments truncated(5, argv);  // argc larger than argv
  EXPECT_FALSE(truncated.GetOption("j").IsError());

  std::string value;
  EXPECT_EQ(truncated.GetOption(nullptr, value).GetOriginalCode(), ERROR_INVALID_PARAMETER);
}

}  // namespace
