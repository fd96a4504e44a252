#include "Escape.h"

#include <algorithm>

#include "JsonText.h"
#include "Utf8.h"

namespace AgentCheck {
namespace {

bool IsNoncharacter(char32_t code) {
  return (code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFE) == 0xFFFE;
}

// Marks that a terminal does not draw but that reorder the text around them
// or end its line: what makes a shown text read other than it is.
bool IsBidiOrLineMark(char32_t code) {
  return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x2028 && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

bool IsShownAsIs(char32_t code) {
  return code >= 0x20 && !(code >= 0x7F && code <= 0x9F) && !IsNoncharacter(code) &&
         !IsBidiOrLineMark(code);
}

// Hands each character of `text` that shows as it is to `asIs`, and each
// byte of the rest to `escaped`.
template <typename AsIs, typename Escaped>
void Walk(std::string_view text, AsIs asIs, Escaped escaped) {
  while (!text.empty()) {
    const Utf8Char next = NextUtf8(text);
    const std::size_t length = next.length == 0 ? 1 : next.length;
    if (next.length != 0 && IsShownAsIs(next.code)) {
      asIs(text.substr(0, length));
    } else {
      for (const char byte : text.substr(0, length))
        escaped(byte);
    }
    text.remove_prefix(length);
  }
}

void AppendEscapedByte(std::string& out, char byte) {
  out += "\\x";
  AppendHex(out, std::string_view(&byte, 1));
}

}  // namespace

std::string EscapeText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  Walk(
      text, [&shown](std::string_view character) { shown.append(character); },
      [&shown](char byte) { AppendEscapedByte(shown, byte); });
  return shown;
}

std::string ShellQuoted(std::string_view text) {
  const auto bare = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_@%+=:,./-").find(c) != std::string_view::npos;
  };
  if (!text.empty() && std::all_of(text.begin(), text.end(), bare)) return std::string(text);
  const std::string shown = EscapeText(text);
  std::string word;
  if (shown == text) {
    word = "'";
    for (const char c : text)
      word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
  }
  // EscapeText left backslashes as they are; here each stands for itself.
  word = "$'";
  Walk(
      text,
      [&word](std::string_view character) {
        if (character[0] == '\'' || character[0] == '\\') word += '\\';
        word.append(character);
      },
      [&word](char byte) { AppendEscapedByte(word, byte); });
  return word + "'";
}

}  // namespace AgentCheck
