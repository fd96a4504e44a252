// Reading UTF-8 one character at a time, by the one rule that the local
// platform's transcript and the agent check's reports write texts by.
#pragma once

#include <cstddef>
#include <string_view>

// A well-formed UTF-8 sequence at the start of a text.
struct Utf8Char {
  std::size_t length;  // 1 to 4; 0: the first byte begins no well-formed sequence
  char32_t code;
};

// The character that `text` begins with. Overlong forms, surrogates, code
// points above U+10FFFF, stray continuation bytes and sequences cut short
// are not well-formed: each such byte stands alone.
inline Utf8Char NextUtf8(std::string_view text) {
  if (text.empty()) return {0, 0};
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return {1, lead};
  std::size_t length = 0;
  unsigned char low = 0x80;   // the second byte's range, narrowed where the
  unsigned char high = 0xBF;  // lead alone would allow a bad character
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return {0, 0};
  }
  if (text.size() < length) return {0, 0};
  char32_t code = lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) return {0, 0};
    code = (code << 6) | (byte & 0x3F);
  }
  return {length, code};
}

inline bool IsUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = NextUtf8(text).length;
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}
