// The renderer against a table image built by hand in the target's byte
// order, as the product lays its tables out.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "DisplayTable.h"

namespace {

using Image = std::array<unsigned char, sizeof(_DISPLAY_ENUM_INFO_TABLE)>;

Image RowImage(std::uint32_t value, const char* name, const wchar_t* wideName) {
  Image image{};
  for (std::size_t i = 0; i < 4; ++i) {
    const bool bigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    image[i] = static_cast<unsigned char>(value >> (8 * (bigEndian ? 3 - i : i)));
  }
  std::memcpy(image.data() + 8, &name, sizeof name);
  std::memcpy(image.data() + 16, &wideName, sizeof wideName);
  return image;
}

TEST(DisplayRecord, RendererReadsAHandMadeTableImage) {
  // 1 and 0x01000000 are the same word in the other byte order.
  const std::array<Image, 3> rows = {RowImage(1, "ONE", L"ONE"),
                                     RowImage(0x01000000u, "SWAPPED", L"SWAPPED"), Image{}};
  _DISPLAY_ENUM_INFO_TABLE table[3];
  static_assert(sizeof table == sizeof rows);
  std::memcpy(table, rows.data(), sizeof table);

  for (const auto& [value, text] :
       {std::pair<unsigned int, std::string>{1, "ONE"}, {0x01000000u, "SWAPPED"}, {2, "2"}}) {
    EXPECT_EQ(CDisplayEnumBase::AsString(table, value), text);
    EXPECT_EQ(CDisplayEnumBase::AsWstring(table, value), std::wstring(text.begin(), text.end()));
  }
}

}  // namespace
