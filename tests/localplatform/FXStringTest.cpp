#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FXString.h"

namespace {

using Parts = std::vector<std::string>;

TEST(FXString, SplitCountsEmptyFieldsAndRefusesAnEmptySeparator) {
  const struct {
    const char* pszText;
    const char* pszSeparator;
    Parts expected;
  } cases[] = {
      {"2:17", ":", {"2", "17"}}, {"2:", ":", {"2", ""}},     {":5", ":", {"", "5"}},
      {"2", ":", {"2"}},          {"a--b", "--", {"a", "b"}}, {"a:b", "", {"untouched"}},
  };
  for (const auto& c : cases) {
    Parts parts{"untouched"};
    (void)FXString::Split(c.pszText, c.pszSeparator, parts, 0);
    EXPECT_EQ(parts, c.expected) << c.pszText;
  }
}

TEST(FXString, FormatHasNoLengthLimit) {
  const std::string strLong(5000, 'z');
  EXPECT_EQ(FXString::Format("%s=%d", strLong.c_str(), 7), strLong + "=7");
}

TEST(FXPath, AppendJoinsWithExactlyOneSeparator) {
  const struct {
    const char* pszPath;
    const char* pszComponent;
    const char* pszExpected;
  } cases[] = {{"/r", "RK_JobResults", "/r/RK_JobResults"},
               {"/r/", "2", "/r/2"},
               {"/r//", "/0", "/r/0"},
               {"/", "r", "/r"},
               {"", "42", "42"}};
  for (const auto& c : cases) {
    std::string path = c.pszPath;
    EXPECT_FALSE(FXPath::Append(path, c.pszComponent, 0).IsError());
    EXPECT_EQ(path, c.pszExpected);
  }
}

}  // namespace
