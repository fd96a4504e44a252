// Text from outside made safe to print: each control byte (0x00 to 0x1F and
// 0x7F) becomes \xHH, every other byte stays as given. It is the rule of the
// library's trace lines, so a printed value stays on its line and sends no
// escape sequence to a terminal. The library owns it; the local platform's
// kit installs it beside its own headers and gives it to agents through
// PrintableText.h, so that an agent escapes as the library does. Header
// only and C++11, as the kit's installed headers are.
#pragma once

#include <string>

inline std::string FXPrintableText(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string printable;
  printable.reserve(text.size());
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte != 0x7F) {
      printable += text[i];
    } else {
      printable += "\\x";
      printable += kHex[byte >> 4];
      printable += kHex[byte & 0xF];
    }
  }
  return printable;
}
