#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FXString.h"
#include "WinTypes.h"

namespace {

using Parts = std::vector<std::string>;

TEST(FXString, SplitCountsEveryFieldEmptyOnesIncluded) {
  const struct {
    const char* pszText;
    const char* pszSeparator;
    Parts expected;
  } cases[] = {
      {"2:17", ":", {"2", "17"}},        {"2:", ":", {"2", ""}}, {":5", ":", {"", "5"}},
      {"2:17:5", ":", {"2", "17", "5"}}, {"2", ":", {"2"}},      {"", ":", {""}},
      {"a--b--", "--", {"a", "b", ""}},
  };
  for (const auto& c : cases) {
    Parts parts{"stale"};
    EXPECT_FALSE(FXString::Split(c.pszText, c.pszSeparator, parts, 0).IsError());
    EXPECT_EQ(parts, c.expected) << "text \"" << c.pszText << "\"";
  }
}

TEST(FXString, SplitRefusesAnEmptySeparatorAndLeavesPartsAlone) {
  for (const char* pszSeparator : {"", static_cast<const char*>(nullptr)}) {
    Parts parts{"kept"};
    const CQiError error = FXString::Split("a:b", pszSeparator, parts, 0);
    EXPECT_TRUE(error.IsError());
    EXPECT_EQ(error.GetOriginalCode(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(parts, Parts{"kept"});
  }
}

TEST(FXString, TrimRightRemovesOnlyTheTrailingRunFromTheSet) {
  const struct {
    const char* pszText;
    const char* pszExpected;
  } cases[] = {
      {"a/b/", "a/b"}, {"a\\b/\\//", "a\\b"}, {"///", ""}, {"", ""}, {"/a", "/a"},
  };
  for (const auto& c : cases) {
    std::string text = c.pszText;
    FXString::TrimRight(text, "/\\");
    EXPECT_EQ(text, c.pszExpected) << "text \"" << c.pszText << "\"";
  }
}

TEST(FXString, FormatFollowsPrintfAtAnyLength) {
  EXPECT_EQ(FXString::Format("%s=%lld, %u", "JobId", 42LL, 7u), "JobId=42, 7");
  const std::string strLong(5000, 'z');
  EXPECT_EQ(FXString::Format("[%s]", strLong.c_str()), "[" + strLong + "]");
}

TEST(FXPath, AppendJoinsWithExactlyOneSeparator) {
  const struct {
    const char* pszPath;
    const char* pszComponent;
    const char* pszExpected;
  } cases[] = {
      {"/var/results", "RK_JobResults", "/var/results/RK_JobResults"},
      {"/var/results/", "2", "/var/results/2"},
      {"/var/results//", "/0", "/var/results/0"},
      {"/", "var", "/var"},
      {"", "42", "42"},
  };
  for (const auto& c : cases) {
    std::string path = c.pszPath;
    EXPECT_FALSE(FXPath::Append(path, c.pszComponent, 0).IsError());
    EXPECT_EQ(path, c.pszExpected) << c.pszPath << " + " << c.pszComponent;
  }
}

}  // namespace
