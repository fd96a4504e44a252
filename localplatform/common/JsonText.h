// Texts written as JSON strings that a strict reader takes, for the local
// platform's transcript. Kept to this header so that the stand-ins, which
// agents link, need no JSON library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Utf8.h"

// Appends each byte of `bytes` as two lowercase hexadecimal digits.
inline void AppendHex(std::string& out, std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
  }
}

// Appends `text` to `out` between quotes: the quote and the backslash
// escaped, each control character (C0, DEL and C1) as \u00XX (\n and \t
// short), each byte that is not part of well-formed UTF-8 as U+FFFD, the
// rest as it is. False when a byte was replaced.
inline bool AppendJsonText(std::string& out, std::string_view text) {
  bool bWellFormed = true;
  out += '"';
  while (!text.empty()) {
    const Utf8Char next = NextUtf8(text);
    if (next.length == 0) {
      out += "\\ufffd";
      bWellFormed = false;
      text.remove_prefix(1);
      continue;
    }
    if (next.code == '"' || next.code == '\\') {
      out += '\\';
      out += static_cast<char>(next.code);
    } else if (next.code == '\n') {
      out += "\\n";
    } else if (next.code == '\t') {
      out += "\\t";
    } else if (next.code < 0x20 || (next.code >= 0x7F && next.code <= 0x9F)) {
      const char code = static_cast<char>(next.code);
      out += "\\u00";
      AppendHex(out, std::string_view(&code, 1));
    } else {
      out.append(text.data(), next.length);
    }
    text.remove_prefix(next.length);
  }
  out += '"';
  return bWellFormed;
}

// Appends the member `"name":"text"`; when the text is not well-formed UTF-8,
// also `"nameBytes":"…"` with its exact bytes, two lowercase hex digits each.
inline void AppendJsonTextMember(std::string& out, std::string_view name, std::string_view text) {
  AppendJsonText(out, name);
  out += ':';
  if (AppendJsonText(out, text)) return;
  out += ',';
  AppendJsonText(out, std::string(name) + "Bytes");
  out += ":\"";
  AppendHex(out, text);
  out += '"';
}
