// Display table records against byte images built by hand in the target's
// byte order, as the product's renderers read them.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "DisplayTable.h"

namespace {

constexpr bool kBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

using Image = std::array<unsigned char, 32>;

void PutWord(Image& image, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t shift = 8 * (kBigEndian ? 3 - i : i);
    image[offset + i] = static_cast<unsigned char>(value >> shift);
  }
}

template <typename T>
void PutPointer(Image& image, std::size_t offset, T* pointer) {
  std::memcpy(image.data() + offset, &pointer, sizeof pointer);
}

Image RowImage(std::uint32_t value, std::uint32_t second, const char* name,
               const wchar_t* wideName) {
  Image image{};
  PutWord(image, 0, value);
  PutWord(image, 4, second);
  PutPointer(image, 8, name);
  PutPointer(image, 16, wideName);
  return image;
}

template <typename Row>
Image ImageOf(const Row& row) {
  static_assert(sizeof(Row) == sizeof(Image));
  Image image;
  std::memcpy(image.data(), &row, sizeof row);
  return image;
}

TEST(DisplayRecord, RecordsHaveTheNativeByteImage) {
  const _DISPLAY_ENUM_INFO_TABLE enumRow{0x01020304u, 0, "NAME", L"NAME", nullptr};
  const Image enumImage = ImageOf(enumRow);
  EXPECT_EQ(enumImage, RowImage(0x01020304u, 0, enumRow.pszName, enumRow.pwszName));
  EXPECT_EQ(enumImage[0], kBigEndian ? 0x01 : 0x04);

  const _DISPLAY_BITS_INFO_TABLE bitsRow{0x0a0b0c0du, 0x0a0b0c0du, "BITS", L"BITS", nullptr};
  EXPECT_EQ(ImageOf(bitsRow),
            RowImage(0x0a0b0c0du, 0x0a0b0c0du, bitsRow.pszName, bitsRow.pwszName));
}

TEST(DisplayRecord, RendererReadsHandMadeTable) {
  // 1 and 0x01000000 are the same word in the other byte order.
  const std::array<Image, 4> rows = {RowImage(0, 0, "ZERO", L"ZERO"), RowImage(1, 0, "ONE", L"ONE"),
                                     RowImage(0x01000000u, 0, "SWAPPED", L"SWAPPED"), Image{}};
  _DISPLAY_ENUM_INFO_TABLE table[4];
  static_assert(sizeof table == sizeof rows);
  std::memcpy(table, rows.data(), sizeof table);

  const struct {
    unsigned int value;
    const char* text;
  } kCases[] = {{0, "ZERO"}, {1, "ONE"}, {0x01000000u, "SWAPPED"}, {2, "2"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(CDisplayEnumBase::AsString(table, c.value), c.text);
    const std::string text(c.text);
    EXPECT_EQ(CDisplayEnumBase::AsWstring(table, c.value), std::wstring(text.begin(), text.end()));
  }
}

}  // namespace
