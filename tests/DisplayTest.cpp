#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommonArguments.h"
#include "DisplayTable.h"
#include "JobUtils.h"

namespace {

using NarrowFn = std::string (*)(unsigned int);
using WideFn = std::wstring (*)(unsigned int);

struct Rendering {
  const char* type;
  NarrowFn narrow;
  WideFn wide;
  unsigned int value;
  const char* text;
};

void PrintTo(const Rendering& r, std::ostream* os) { *os << r.type << "(" << r.value << ")"; }

#define UMX_RENDERING(Type, value, text) {#Type, &Type::AsString, &Type::AsWstring, value, text}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class DisplayRendering : public testing::TestWithParam<Rendering> {};

TEST_P(DisplayRendering, NarrowAndWideNameTheSameText) {
  const Rendering& r = GetParam();
  EXPECT_EQ(r.narrow(r.value), r.text);
  EXPECT_EQ(r.wide(r.value), Widen(r.text));
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, DisplayRendering,
    testing::ValuesIn(std::vector<Rendering>{
        UMX_RENDERING(EJobStatus, 0, "JOBSTATUS_ERROR"),
        UMX_RENDERING(EJobStatus, 1, "JMSUCCESS"),
        UMX_RENDERING(EJobStatus, 2, "FAIL"),
        UMX_RENDERING(EJobStatus, 3, "PARTIALSUCCESS"),
        UMX_RENDERING(EJobStatus, 4, "KILLED"),
        UMX_RENDERING(EJobStatus, 5, "STSTOPPED"),
        UMX_RENDERING(EJobStatus, 6, "STINTERRUPTED"),
        UMX_RENDERING(EJobStatus, 7, "JMANYSTATUS"),
        UMX_RENDERING(EJobStatus, 8, "STSKIPPED"),
        UMX_RENDERING(EJobStatus, 9, "DROPPED"),
        UMX_RENDERING(EJobStatus, 10, "INSYNC"),
        UMX_RENDERING(EJobStatus, 11, "OUTOFSYNC"),
        UMX_RENDERING(EJobStatus, 12, "NOTATTEMPTED"),
        UMX_RENDERING(EJobStatus, 13, "RKJOBSTATUS_STARTED"),
        UMX_RENDERING(EJobStatusFor, 0, "JOBSTATUSFOR_ERROR"),
        UMX_RENDERING(EJobStatusFor, 1, "PHASE"),
        UMX_RENDERING(EJobStatusFor, 2, "JOB"),
        // Scan types and scan modes are numbered differently below 3.
        UMX_RENDERING(EScanType, 0, "SCAN_TYPE_UNKNOWN"),
        UMX_RENDERING(EScanType, 1, "CHANGE_JOURNAL"),
        UMX_RENDERING(EScanType, 2, "CLASSIC"),
        UMX_RENDERING(EScanType, 3, "MIXED"),
        UMX_RENDERING(BScanModeReason, 0x1, "MODE_CLASSIC"),
        UMX_RENDERING(BScanModeReason, 0x2, "MODE_CJ"),
        UMX_RENDERING(BScanModeReason, 0x3, "MODE_MIXED"),
        UMX_RENDERING(BScanModeReason, 0x100, "REASON_UNC_PATH"),
        UMX_RENDERING(BScanModeReason, 0x200, "REASON_CJ_NOT_SUPPORTED"),
        UMX_RENDERING(BScanModeReason, 0x400, "REASON_MOUNT_POINT"),
        UMX_RENDERING(BScanModeReason, 0x800, "REASON_FS_MIGRATOR"),
    }));

INSTANTIATE_TEST_SUITE_P(
    ValuesWithoutRow, DisplayRendering,
    testing::ValuesIn(std::vector<Rendering>{
        UMX_RENDERING(EJobStatus, 14, "14"),
        UMX_RENDERING(EJobStatus, 0xFFFFFFFF, "4294967295"),
        UMX_RENDERING(EJobStatusFor, 3, "3"),
        UMX_RENDERING(EScanType, 4, "4"),
        UMX_RENDERING(BScanModeReason, 0, "0"),
        UMX_RENDERING(BScanModeReason, 0x1000, "0x1000"),
    }));

INSTANTIATE_TEST_SUITE_P(
    BitCombinations, DisplayRendering,
    testing::ValuesIn(std::vector<Rendering>{
        UMX_RENDERING(BScanModeReason, 0x102, "MODE_CJ|REASON_UNC_PATH"),
        UMX_RENDERING(BScanModeReason, 0x302,
                      "MODE_CJ|REASON_UNC_PATH|REASON_CJ_NOT_SUPPORTED"),
        UMX_RENDERING(BScanModeReason, 0x6, "MODE_CJ|0x4"),
        UMX_RENDERING(BScanModeReason, 0xF03,
                      "MODE_MIXED|REASON_UNC_PATH|REASON_CJ_NOT_SUPPORTED|"
                      "REASON_MOUNT_POINT|REASON_FS_MIGRATOR"),
        UMX_RENDERING(BScanModeReason, 0xFFFFFFFF,
                      "MODE_MIXED|REASON_UNC_PATH|REASON_CJ_NOT_SUPPORTED|"
                      "REASON_MOUNT_POINT|REASON_FS_MIGRATOR|0xfffff0fc"),
    }));

TEST(DisplayValue, ClassesHoldTheirValue) {
  EXPECT_EQ(EJobStatus(EJobStatus::RKJOBSTATUS_STARTED).Value(), 13u);
  EXPECT_EQ(EJobStatusFor(EJobStatusFor::JOB).Value(), 2u);
  EXPECT_EQ(EScanType(EScanType::CHANGE_JOURNAL).Value(), 1u);
  EXPECT_EQ(BScanModeReason().Value(), 0u);
  const BScanModeReason reason(BScanModeReason::MODE_CJ | BScanModeReason::REASON_UNC_PATH);
  EXPECT_EQ(BScanModeReason(reason).Value(), 0x102u);
}

// A zero value is a row like any other; the end is the row without names.
TEST(DisplayRenderer, WalksPastZeroValueToTheUnnamedRow) {
  _DISPLAY_ENUM_INFO_TABLE table[] = {{0, 0, "ZERO", L"ZERO", nullptr},
                                      {7, 0, "SEVEN", L"SEVEN", nullptr},
                                      {0, 0, nullptr, nullptr, nullptr},
                                      {9, 0, "PAST_END", L"PAST_END", nullptr}};
  EXPECT_EQ(CDisplayEnumBase::AsString(table, 0), "ZERO");
  EXPECT_EQ(CDisplayEnumBase::AsWstring(table, 7), L"SEVEN");
  EXPECT_EQ(CDisplayEnumBase::AsString(table, 9), "9");
}

// The narrow name ends the table; a missing wide name is the narrow one
// widened.
TEST(DisplayRenderer, HalfNamedRowsRenderAlikeInBothWidths) {
  _DISPLAY_ENUM_INFO_TABLE enumTable[] = {{1, 0, "ONE", nullptr, nullptr},
                                          {2, 0, nullptr, L"TWO", nullptr}};
  EXPECT_EQ(CDisplayEnumBase::AsWstring(enumTable, 1), L"ONE");
  EXPECT_EQ(CDisplayEnumBase::AsString(enumTable, 2), "2");
  EXPECT_EQ(CDisplayEnumBase::AsWstring(enumTable, 2), L"2");
  _DISPLAY_BITS_INFO_TABLE bitsTable[] = {{1, 1, "ONE", nullptr, nullptr},
                                          {2, 2, nullptr, L"TWO", nullptr}};
  EXPECT_EQ(CDisplayBitsBase::AsWstring(bitsTable, 3), L"ONE|0x2");
}

TEST(DisplayRenderer, NullTableRendersAsEmptyTable) {
  EXPECT_EQ(CDisplayEnumBase::AsString(nullptr, 5), "5");
  EXPECT_EQ(CDisplayEnumBase::AsWstring(nullptr, 5), L"5");
  EXPECT_EQ(CDisplayBitsBase::AsString(nullptr, 0), "0");
  EXPECT_EQ(CDisplayBitsBase::AsWstring(nullptr, 0xA0), L"0xa0");
}

// A row naming a pattern within a wider mask outranks the single bits of the
// mask, and a repeated row is named once.
TEST(DisplayRenderer, FieldRowAndRepeatedRow) {
  _DISPLAY_BITS_INFO_TABLE table[] = {{0x1, 0x1, "LOW", L"LOW", nullptr},
                                      {0x1, 0x3, "FIELD_ONE", L"FIELD_ONE", nullptr},
                                      {0x10, 0x10, "FLAG", L"FLAG", nullptr},
                                      {0x10, 0x10, "FLAG_AGAIN", L"FLAG_AGAIN", nullptr},
                                      {0, 0, nullptr, nullptr, nullptr}};
  EXPECT_EQ(CDisplayBitsBase::AsString(table, 0x11), "FIELD_ONE|FLAG");
  EXPECT_EQ(CDisplayBitsBase::AsString(table, 0x13), "LOW|FLAG|0x2");
}

}  // namespace
