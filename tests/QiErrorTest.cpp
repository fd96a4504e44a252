#include <climits>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "FXString.h"
#include "QiError.h"
#include "WinTypes.h"

namespace {

TEST(QiError, SuccessCarriesNoRecordAndPushKeepsItSuccess) {
  CQiError success = CQiError::Success();
  success.Push(FX_CODE_LOCATION("QiErrorTest"), "ignored %d", 1);
  EXPECT_FALSE(success.IsError());
  EXPECT_EQ(success.GetCode(), 0);
  EXPECT_EQ(success.GetKind(), FXErrorKind::None);
  EXPECT_EQ(success.GetOriginalCode(), 0);
  EXPECT_TRUE(success.GetFrames().empty());
  EXPECT_EQ(success.Format(), "success");
}

struct CodeCase {
  bool bWin32;
  std::int64_t nInput;
  std::uint32_t nExpectedCode;
};

class QiErrorCode : public testing::TestWithParam<CodeCase> {};

TEST_P(QiErrorCode, IsAlwaysAnErrorWithTheExpectedCode) {
  const CodeCase& c = GetParam();
  const CQiError error = c.bWin32
                             ? FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("QiErrorTest"),
                                                       static_cast<unsigned int>(c.nInput), "made")
                             : FXErrorUtil::ErrorRKResult(FX_CODE_LOCATION("QiErrorTest"),
                                                          static_cast<int>(c.nInput), "made");
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ(static_cast<std::uint32_t>(error.GetCode()), c.nExpectedCode);
  EXPECT_EQ(error.GetKind(), c.bWin32 ? FXErrorKind::Win32 : FXErrorKind::RKResult);
  EXPECT_EQ(error.GetOriginalCode(), c.nInput);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, QiErrorCode,
    testing::Values(CodeCase{true, ERROR_INVALID_PARAMETER, 0x80070057u},
                    CodeCase{true, ERROR_NOT_FOUND, 0x80070490u},
                    CodeCase{true, ERROR_FUNCTION_FAILED, 0x8007065Bu},
                    CodeCase{true, 0, 0x80070000u}, CodeCase{true, 0x12345, 0x80072345u},
                    CodeCase{false, -5, static_cast<std::uint32_t>(-5)},
                    CodeCase{false, 5, static_cast<std::uint32_t>(-5)},
                    CodeCase{false, 0, 0x8007065Bu},
                    CodeCase{false, INT_MAX, static_cast<std::uint32_t>(-INT_MAX)},
                    CodeCase{false, INT_MIN, static_cast<std::uint32_t>(INT_MIN)}));

TEST(QiError, PushAddsFramesToTheRecordSharedByCopies) {
  CQiError origin =
      FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("Origin"), ERROR_NOT_FOUND, "missing %s", "thing");
  CQiError copy = origin;
  copy.Push(FX_CODE_LOCATION("Middle")).Push(FX_CODE_LOCATION("Top"), "while %s", "reading");

  const auto& frames = origin.GetFrames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].strFile, "Origin");
  EXPECT_EQ(frames[0].strMessage, "missing thing");
  EXPECT_EQ(frames[1].strFile, "Middle");
  EXPECT_EQ(frames[1].strMessage, "");
  EXPECT_EQ(frames[2].strFile, "Top");
  EXPECT_EQ(frames[2].strMessage, "while reading");
  EXPECT_EQ(copy.GetCode(), origin.GetCode());
}

TEST(QiError, LocationNamesTheEnclosingFunctionAndLine) {
  const int nLine = __LINE__ + 1;
  const CQiError error = FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("Unit"), 87, "x");
  const FXErrorFrame& frame = error.GetFrames().at(0);
  EXPECT_EQ(frame.strFile, "Unit");
  EXPECT_NE(frame.strFunction.find("TestBody"), std::string::npos) << frame.strFunction;
  EXPECT_EQ(frame.nLine, nLine);
}

TEST(QiError, FormatShowsCodeThenFramesNewestFirst) {
  CQiError error =
      FXErrorUtil::ErrorWin32(FXCodeLocation("Lookup", "Find()", 7), ERROR_NOT_FOUND, "no %s", "x");
  error.Push(FXCodeLocation("Caller", "Read()", 12), "reading x");
  EXPECT_EQ(error.Format(),
            "error 0x80070490 (Win32 1168): Caller:Read():12: reading x <- "
            "Lookup:Find():7: no x");

  const CQiError platform =
      FXErrorUtil::ErrorRKResult(FXCodeLocation("Job", "Init()", 3), 5, "init");
  EXPECT_EQ(platform.Format(), "error 0xFFFFFFFB (RKResult 5): Job:Init():3: init");
}

TEST(QiError, MessagesOfAnyLengthAreKeptWhole) {
  const std::string strLong(10000, 'm');
  const CQiError error =
      FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("Unit"), 87, "%s", strLong.c_str());
  EXPECT_EQ(error.GetFrames().at(0).strMessage, strLong);
}

}  // namespace
