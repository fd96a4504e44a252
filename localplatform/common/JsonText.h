// A text written as a JSON string, by one rule for the local platform's
// transcript and the agent check's report.
#pragma once

#include <cstddef>
#include <string>

// Appends `text` to `out` between quotes: the quote, the backslash and each
// control character (0x00 to 0x1F and 0x7F) escaped, every other byte, 0x80
// and above too, as it is.
inline void AppendJsonText(std::string& out, const char* text, std::size_t length) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += static_cast<char>(byte);
    }
  }
  out += '"';
}

inline void AppendJsonText(std::string& out, const std::string& text) {
  AppendJsonText(out, text.data(), text.size());
}
