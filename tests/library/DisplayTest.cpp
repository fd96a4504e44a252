#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "CommonArguments.h"
#include "DisplayTable.h"
#include "JobUtils.h"

namespace {

// Tables of the renderer's own rules: a zero value is a row like any other,
// the row without a narrow name ends the table, a missing wide name is the
// narrow one widened; a row naming a pattern within a wider mask outranks
// the single bits of the mask, and a repeated row is named once.
_DISPLAY_ENUM_INFO_TABLE g_enumRules[] = {{0, 0, "ZERO", L"ZERO", nullptr},
                                          {7, 0, "SEVEN", nullptr, nullptr},
                                          {9, 0, nullptr, L"NINE", nullptr},
                                          {11, 0, "PAST_END", L"PAST_END", nullptr}};
_DISPLAY_BITS_INFO_TABLE g_bitsRules[] = {{0x1, 0x1, "LOW", nullptr, nullptr},
                                          {0x1, 0x3, "FIELD_ONE", L"FIELD_ONE", nullptr},
                                          {0x10, 0x10, "FLAG", L"FLAG", nullptr},
                                          {0x10, 0x10, "FLAG_AGAIN", L"FLAG_AGAIN", nullptr},
                                          {0, 0, nullptr, nullptr, nullptr}};

struct Renderer {
  const char* type;
  std::string (*narrow)(unsigned int);
  std::wstring (*wide)(unsigned int);
  std::vector<std::pair<unsigned int, const char*>> texts;
};

void PrintTo(const Renderer& r, std::ostream* os) { *os << r.type; }

class DisplayRendering : public testing::TestWithParam<Renderer> {};

TEST_P(DisplayRendering, NarrowAndWideNameEachValueAlike) {
  const Renderer& r = GetParam();
  for (const auto& [value, text] : r.texts) {
    const std::string narrow(text);
    EXPECT_EQ(r.narrow(value), narrow) << value;
    EXPECT_EQ(r.wide(value), std::wstring(narrow.begin(), narrow.end())) << value;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryTable, DisplayRendering, testing::Values(
    Renderer{"EJobStatus", &EJobStatus::AsString, &EJobStatus::AsWstring,
             {{0, "JOBSTATUS_ERROR"}, {1, "JMSUCCESS"}, {2, "FAIL"}, {3, "PARTIALSUCCESS"},
              {4, "KILLED"}, {5, "STSTOPPED"}, {6, "STINTERRUPTED"}, {7, "JMANYSTATUS"},
              {8, "STSKIPPED"}, {9, "DROPPED"}, {10, "INSYNC"}, {11, "OUTOFSYNC"},
              {12, "NOTATTEMPTED"}, {13, "RKJOBSTATUS_STARTED"}, {14, "14"},
              {0xFFFFFFFF, "4294967295"}}},
    Renderer{"EJobStatusFor", &EJobStatusFor::AsString, &EJobStatusFor::AsWstring,
             {{0, "JOBSTATUSFOR_ERROR"}, {1, "PHASE"}, {2, "JOB"}, {3, "3"}}},
    // Scan types and scan modes are numbered differently below 3.
    Renderer{"EScanType", &EScanType::AsString, &EScanType::AsWstring,
             {{0, "SCAN_TYPE_UNKNOWN"}, {1, "CHANGE_JOURNAL"}, {2, "CLASSIC"}, {3, "MIXED"},
              {4, "4"}}},
    Renderer{"BScanModeReason", &BScanModeReason::AsString, &BScanModeReason::AsWstring,
             {{0x1, "MODE_CLASSIC"}, {0x2, "MODE_CJ"}, {0x3, "MODE_MIXED"},
              {0x100, "REASON_UNC_PATH"}, {0x200, "REASON_CJ_NOT_SUPPORTED"},
              {0x400, "REASON_MOUNT_POINT"}, {0x800, "REASON_FS_MIGRATOR"}, {0, "0"},
              {0x1000, "0x1000"}, {0x102, "MODE_CJ|REASON_UNC_PATH"},
              {0x302, "MODE_CJ|REASON_UNC_PATH|REASON_CJ_NOT_SUPPORTED"}, {0x6, "MODE_CJ|0x4"},
              {0xFFFFFFFF, "MODE_MIXED|REASON_UNC_PATH|REASON_CJ_NOT_SUPPORTED|"
                           "REASON_MOUNT_POINT|REASON_FS_MIGRATOR|0xfffff0fc"}}},
    Renderer{"EnumRules", [](unsigned int v) { return CDisplayEnumBase::AsString(g_enumRules, v); },
             [](unsigned int v) { return CDisplayEnumBase::AsWstring(g_enumRules, v); },
             {{0, "ZERO"}, {7, "SEVEN"}, {9, "9"}, {11, "11"}}},
    Renderer{"BitsRules", [](unsigned int v) { return CDisplayBitsBase::AsString(g_bitsRules, v); },
             [](unsigned int v) { return CDisplayBitsBase::AsWstring(g_bitsRules, v); },
             {{0x11, "FIELD_ONE|FLAG"}, {0x13, "LOW|FLAG|0x2"}}}),
    [](const auto& test) { return std::string(test.param.type); });
// clang-format on

TEST(DisplayRenderer, NothingToNameIsTheNumber) {
  EXPECT_EQ(CDisplayEnumBase::AsString(nullptr, 5), "5");
  EXPECT_EQ(CDisplayBitsBase::AsWstring(nullptr, 0xA0), L"0xa0");
  EXPECT_EQ(BScanModeReason::AsString(BScanModeReason().Value()), "0");
}

}  // namespace
