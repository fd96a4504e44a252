#include <climits>
#include <cstdint>

#include <gtest/gtest.h>

#include "QiError.h"
#include "QiErrorDetail.h"
#include "WinTypes.h"

namespace {

TEST(QiError, SuccessCarriesNoRecordAndStaysSuccessWhenPushed) {
  CQiError success = CQiError::Success();
  success.Push(FX_CODE_LOCATION("Test"), "ignored");
  EXPECT_FALSE(success.IsError());
  EXPECT_EQ(success.GetCode(), 0);
  EXPECT_TRUE(FXErrorDetail::GetFrames(success).empty());
  EXPECT_EQ(FXErrorDetail::Format(success), "success");
}

TEST(QiError, ConstructorsAlwaysMakeAnError) {
  const struct {
    CQiError error;
    std::uint32_t nCode;
  } cases[] = {
      {FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("T"), 0, "x"), 0x80070000u},
      {FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("T"), 0x12345, "x"), 0x80072345u},
      {FXErrorUtil::ErrorRKResult(FX_CODE_LOCATION("T"), 5, "x"), 0xFFFFFFFBu},
      {FXErrorUtil::ErrorRKResult(FX_CODE_LOCATION("T"), 0, "x"), 0x8007065Bu},
      {FXErrorUtil::ErrorRKResult(FX_CODE_LOCATION("T"), INT_MIN, "x"), 0x80000000u},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(c.error.IsError());
    EXPECT_EQ(static_cast<std::uint32_t>(c.error.GetCode()), c.nCode);
  }
}

TEST(QiError, PushesAreSharedByCopiesAndFormattedNewestFirst) {
  const int nLine = __LINE__ + 1;
  CQiError origin = FXErrorUtil::ErrorWin32(FX_CODE_LOCATION("Lookup"), 1168, "no %s", "x");
  CQiError copy = origin;
  copy.Push(FXCodeLocation("Caller", "Read()", 12), "reading %s", "x");

  ASSERT_EQ(FXErrorDetail::GetFrames(origin).size(), 2u);
  const FXErrorFrame& first = FXErrorDetail::GetFrames(origin)[0];
  EXPECT_NE(first.strFunction.find("TestBody"), std::string::npos) << first.strFunction;
  EXPECT_EQ(first.nLine, nLine);
  EXPECT_EQ(FXErrorDetail::GetKind(origin), FXErrorKind::Win32);
  EXPECT_EQ(FXErrorDetail::GetOriginalCode(origin), 1168);
  EXPECT_EQ(FXErrorDetail::Format(origin),
            "error 0x80070490 (Win32 1168): Caller:Read():12: reading x <- Lookup:" +
                first.strFunction + ":" + std::to_string(nLine) + ": no x");
}

}  // namespace
