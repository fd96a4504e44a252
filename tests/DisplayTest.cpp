#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CommonArguments.h"
#include "DisplayTable.h"
#include "JobUtils.h"

namespace {

struct Rendering {
  const char* type;
  std::string (*narrow)(unsigned int);
  std::wstring (*wide)(unsigned int);
  unsigned int value;
  const char* text;
};

void PrintTo(const Rendering& r, std::ostream* os) { *os << r.type << "(" << r.value << ")"; }

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

#define JS(value, text) \
  { "EJobStatus", &EJobStatus::AsString, &EJobStatus::AsWstring, value, text }
#define JF(value, text) \
  { "EJobStatusFor", &EJobStatusFor::AsString, &EJobStatusFor::AsWstring, value, text }
#define ST(value, text) \
  { "EScanType", &EScanType::AsString, &EScanType::AsWstring, value, text }
#define SM(value, text) \
  { "BScanModeReason", &BScanModeReason::AsString, &BScanModeReason::AsWstring, value, text }

class DisplayRendering : public testing::TestWithParam<Rendering> {};

TEST_P(DisplayRendering, NarrowAndWideNameTheSameText) {
  const Rendering& r = GetParam();
  EXPECT_EQ(r.narrow(r.value), r.text);
  EXPECT_EQ(r.wide(r.value), Widen(r.text));
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, DisplayRendering,
    testing::ValuesIn(std::vector<Rendering>{
        JS(0, "JOBSTATUS_ERROR"), JS(1, "JMSUCCESS"), JS(2, "FAIL"), JS(3, "PARTIALSUCCESS"),
        JS(4, "KILLED"), JS(5, "STSTOPPED"), JS(6, "STINTERRUPTED"), JS(7, "JMANYSTATUS"),
        JS(8, "STSKIPPED"), JS(9, "DROPPED"), JS(10, "INSYNC"), JS(11, "OUTOFSYNC"),
        JS(12, "NOTATTEMPTED"), JS(13, "RKJOBSTATUS_STARTED"), JF(0, "JOBSTATUSFOR_ERROR"),
        JF(1, "PHASE"), JF(2, "JOB"),
        // Scan types and scan modes are numbered differently below 3.
        ST(0, "SCAN_TYPE_UNKNOWN"), ST(1, "CHANGE_JOURNAL"), ST(2, "CLASSIC"), ST(3, "MIXED"),
        SM(0x1, "MODE_CLASSIC"), SM(0x2, "MODE_CJ"), SM(0x3, "MODE_MIXED"),
        SM(0x100, "REASON_UNC_PATH"), SM(0x200, "REASON_CJ_NOT_SUPPORTED"),
        SM(0x400, "REASON_MOUNT_POINT"), SM(0x800, "REASON_FS_MIGRATOR")}));

INSTANTIATE_TEST_SUITE_P(ValuesWithoutRow, DisplayRendering,
                         testing::ValuesIn(std::vector<Rendering>{
                             JS(14, "14"), JS(0xFFFFFFFF, "4294967295"), JF(3, "3"), ST(4, "4"),
                             SM(0, "0"), SM(0x1000, "0x1000")}));

INSTANTIATE_TEST_SUITE_P(
    BitCombinations, DisplayRendering,
    testing::ValuesIn(std::vector<Rendering>{
        SM(0x102, "MODE_CJ|REASON_UNC_PATH"),
        SM(0x302, "MODE_CJ|REASON_UNC_PATH|REASON_CJ_NOT_SUPPORTED"), SM(0x6, "MODE_CJ|0x4"),
        SM(0xFFFFFFFF,
           "MODE_MIXED|REASON_UNC_PATH|REASON_CJ_NOT_SUPPORTED|REASON_MOUNT_POINT|"
           "REASON_FS_MIGRATOR|0xfffff0fc")}));

TEST(DisplayValue, ClassesHoldTheirValue) {
  EXPECT_EQ(EJobStatus(EJobStatus::RKJOBSTATUS_STARTED).Value(), 13u);
  EXPECT_EQ(EScanType(EScanType::CHANGE_JOURNAL).Value(), 1u);
  EXPECT_EQ(BScanModeReason().Value(), 0u);
  EXPECT_EQ(BScanModeReason(BScanModeReason::MODE_CJ | BScanModeReason::REASON_UNC_PATH).Value(),
            0x102u);
}

// A zero value is a row like any other; the row without a narrow name ends
// the table, and a missing wide name is the narrow one widened.
TEST(DisplayRenderer, EnumTableEndsAtTheUnnamedRowOnly) {
  _DISPLAY_ENUM_INFO_TABLE table[] = {{0, 0, "ZERO", L"ZERO", nullptr},
                                      {7, 0, "SEVEN", nullptr, nullptr},
                                      {9, 0, nullptr, L"NINE", nullptr},
                                      {11, 0, "PAST_END", L"PAST_END", nullptr}};
  EXPECT_EQ(CDisplayEnumBase::AsString(table, 0), "ZERO");
  EXPECT_EQ(CDisplayEnumBase::AsWstring(table, 7), L"SEVEN");
  EXPECT_EQ(CDisplayEnumBase::AsWstring(table, 9), L"9");
  EXPECT_EQ(CDisplayEnumBase::AsString(table, 11), "11");
  EXPECT_EQ(CDisplayEnumBase::AsString(nullptr, 5), "5");
}

// A row naming a pattern within a wider mask outranks the single bits of the
// mask, and a repeated row is named once.
TEST(DisplayRenderer, BitsPreferTheWiderRowAndNameEachRowOnce) {
  _DISPLAY_BITS_INFO_TABLE table[] = {{0x1, 0x1, "LOW", nullptr, nullptr},
                                      {0x1, 0x3, "FIELD_ONE", L"FIELD_ONE", nullptr},
                                      {0x10, 0x10, "FLAG", L"FLAG", nullptr},
                                      {0x10, 0x10, "FLAG_AGAIN", L"FLAG_AGAIN", nullptr},
                                      {0, 0, nullptr, nullptr, nullptr}};
  EXPECT_EQ(CDisplayBitsBase::AsString(table, 0x11), "FIELD_ONE|FLAG");
  EXPECT_EQ(CDisplayBitsBase::AsWstring(table, 0x13), L"LOW|FLAG|0x2");
  EXPECT_EQ(CDisplayBitsBase::AsWstring(nullptr, 0xA0), L"0xa0");
}

}  // namespace
