#include "Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "JsonText.h"

namespace AgentCheck {
namespace {

// Deeper documents are refused rather than read on an ever deeper stack.
constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : m_text(text) {}

  std::optional<JsonValue> Document(std::string& why) {
    JsonValue value;
    if (Value(value, 0)) {
      SkipBlanks();
      if (m_nAt == m_text.size()) return value;
      Fail("text after the value");
    }
    why = m_strWhy + " at offset " + std::to_string(m_nAt);
    return std::nullopt;
  }

 private:
  bool Fail(const char* pszWhy) {
    if (m_strWhy.empty()) m_strWhy = pszWhy;
    return false;
  }
  void SkipBlanks() {
    while (m_nAt < m_text.size() && (m_text[m_nAt] == ' ' || m_text[m_nAt] == '\t' ||
                                     m_text[m_nAt] == '\n' || m_text[m_nAt] == '\r')) {
      ++m_nAt;
    }
  }
  bool Take(char c) {
    SkipBlanks();
    if (m_nAt < m_text.size() && m_text[m_nAt] == c) {
      ++m_nAt;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (m_text.substr(m_nAt, word.size()) != word) return Fail("an unknown word");
    m_nAt += word.size();
    return true;
  }

  bool Value(JsonValue& value, int nDepth) {
    if (nDepth > kMaxDepth) return Fail("nested too deeply");
    SkipBlanks();
    if (m_nAt == m_text.size()) return Fail("a value is missing");
    switch (m_text[m_nAt]) {
      case '{':
        return Object(value, nDepth);
      case '[':
        return Array(value, nDepth);
      case '"':
        value.kind = JsonValue::Kind::Text;
        return String(value.text);
      case 't':
        value.kind = JsonValue::Kind::Bool;
        value.flag = true;
        return Word("true");
      case 'f':
        value.kind = JsonValue::Kind::Bool;
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return NumberValue(value);
    }
  }

  bool Object(JsonValue& value, int nDepth) {
    ++m_nAt;
    value.kind = JsonValue::Kind::Object;
    if (Take('}')) return true;
    do {
      std::string name;
      SkipBlanks();
      if (m_nAt == m_text.size() || m_text[m_nAt] != '"') return Fail("a member name is missing");
      if (!String(name)) return false;
      if (!Take(':')) return Fail("a ':' is missing");
      JsonValue member;
      if (!Value(member, nDepth + 1)) return false;
      value.members.emplace_back(std::move(name), std::move(member));
    } while (Take(','));
    return Take('}') || Fail("a '}' is missing");
  }

  bool Array(JsonValue& value, int nDepth) {
    ++m_nAt;
    value.kind = JsonValue::Kind::Array;
    if (Take(']')) return true;
    do {
      JsonValue item;
      if (!Value(item, nDepth + 1)) return false;
      value.items.push_back(std::move(item));
    } while (Take(','));
    return Take(']') || Fail("a ']' is missing");
  }

  bool Hex4(unsigned& nCode) {
    if (m_text.size() - m_nAt < 4) return Fail("a \\u escape is cut short");
    nCode = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = m_text[m_nAt++];
      const int nDigit = c >= '0' && c <= '9'   ? c - '0'
                         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
      if (nDigit < 0) return Fail("a \\u escape is not hexadecimal");
      nCode = nCode * 16 + static_cast<unsigned>(nDigit);
    }
    return true;
  }

  static void AppendUtf8(std::string& out, unsigned nCode) {
    if (nCode < 0x80) {
      out += static_cast<char>(nCode);
    } else if (nCode < 0x800) {
      out += static_cast<char>(0xC0 | (nCode >> 6));
      out += static_cast<char>(0x80 | (nCode & 0x3F));
    } else if (nCode < 0x10000) {
      out += static_cast<char>(0xE0 | (nCode >> 12));
      out += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (nCode & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (nCode >> 18));
      out += static_cast<char>(0x80 | ((nCode >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (nCode & 0x3F));
    }
  }

  bool Escape(std::string& out) {
    if (m_nAt == m_text.size()) return Fail("a text is not closed");
    const char c = m_text[m_nAt++];
    constexpr std::string_view kFrom = "\"\\/bfnrt";
    constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
    if (const std::size_t n = kFrom.find(c); n != std::string_view::npos) {
      out += kTo[n];
      return true;
    }
    if (c != 'u') return Fail("an unknown escape");
    unsigned nCode = 0;
    if (!Hex4(nCode)) return false;
    if (nCode >= 0xD800 && nCode < 0xDC00) {  // a pair of surrogates
      unsigned nLow = 0;
      if (m_text.substr(m_nAt, 2) != "\\u") return Fail("a surrogate lacks its pair");
      m_nAt += 2;
      if (!Hex4(nLow)) return false;
      if (nLow < 0xDC00 || nLow >= 0xE000) return Fail("a surrogate lacks its pair");
      nCode = 0x10000 + ((nCode - 0xD800) << 10) + (nLow - 0xDC00);
    } else if (nCode >= 0xDC00 && nCode < 0xE000) {
      return Fail("a surrogate lacks its pair");
    }
    AppendUtf8(out, nCode);
    return true;
  }

  // Bytes from 0x80 up are taken as they are.
  bool String(std::string& out) {
    ++m_nAt;
    while (m_nAt < m_text.size()) {
      const auto byte = static_cast<unsigned char>(m_text[m_nAt++]);
      if (byte == '"') return true;
      if (byte < 0x20) return Fail("a control character in a text");
      if (byte != '\\') {
        out += static_cast<char>(byte);
      } else if (!Escape(out)) {
        return false;
      }
    }
    return Fail("a text is not closed");
  }

  bool NumberValue(JsonValue& value) {
    const std::size_t nStart = m_nAt;
    const auto digits = [this] {
      const std::size_t nFrom = m_nAt;
      while (m_nAt < m_text.size() && m_text[m_nAt] >= '0' && m_text[m_nAt] <= '9')
        ++m_nAt;
      return m_nAt - nFrom;
    };
    if (m_nAt < m_text.size() && m_text[m_nAt] == '-') ++m_nAt;
    const std::size_t nWhole = m_nAt;
    if (digits() == 0) return Fail("not a value");
    if (m_text[nWhole] == '0' && m_nAt - nWhole > 1) return Fail("a number with a leading 0");
    if (m_nAt < m_text.size() && m_text[m_nAt] == '.') {
      ++m_nAt;
      if (digits() == 0) return Fail("a number without digits after its point");
    }
    if (m_nAt < m_text.size() && (m_text[m_nAt] == 'e' || m_text[m_nAt] == 'E')) {
      ++m_nAt;
      if (m_nAt < m_text.size() && (m_text[m_nAt] == '+' || m_text[m_nAt] == '-')) ++m_nAt;
      if (digits() == 0) return Fail("a number without digits in its exponent");
    }
    value.kind = JsonValue::Kind::Number;
    value.number = std::strtod(std::string(m_text.substr(nStart, m_nAt - nStart)).c_str(), nullptr);
    return true;
  }

  std::string_view m_text;
  std::size_t m_nAt = 0;
  std::string m_strWhy;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const auto& [memberName, member] : members) {
    if (memberName == name) return &member;
  }
  return nullptr;
}

std::string JsonValue::TextOf(std::string_view name) const {
  const JsonValue* member = Find(name);
  return member != nullptr && member->kind == Kind::Text ? member->text : std::string();
}

bool JsonValue::FlagOf(std::string_view name) const {
  const JsonValue* member = Find(name);
  return member != nullptr && member->kind == Kind::Bool && member->flag;
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string& why) {
  return Parser(text).Document(why);
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeginValue();
  AppendJsonText(m_out, name.data(), name.size());
  m_out += ": ";
  m_bAfterKey = true;
  return *this;
}

JsonWriter& JsonWriter::Text(std::string_view text) {
  BeginValue();
  AppendJsonText(m_out, text.data(), text.size());
  return *this;
}

JsonWriter& JsonWriter::Number(double value) {
  BeginValue();
  if (!std::isfinite(value)) {
    m_out += "null";
  } else if (value == std::floor(value) && std::fabs(value) < 1e15) {
    m_out += std::to_string(static_cast<long long>(value));
  } else {
    char szNumber[32];
    std::snprintf(szNumber, sizeof szNumber, "%.3f", value);
    m_out += szNumber;
  }
  return *this;
}

JsonWriter& JsonWriter::Flag(bool value) {
  BeginValue();
  m_out += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeginValue();
  m_out += "null";
  return *this;
}

JsonWriter& JsonWriter::Open(char bracket) {
  BeginValue();
  m_out += bracket;
  m_empty.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  const bool bEmpty = m_empty.back();
  m_empty.pop_back();
  if (!bEmpty) NewLine();
  m_out += bracket;
  if (m_empty.empty()) m_out += '\n';
  return *this;
}

void JsonWriter::BeginValue() {
  if (m_bAfterKey) {
    m_bAfterKey = false;
    return;
  }
  if (m_empty.empty()) return;
  if (!m_empty.back()) m_out += ',';
  m_empty.back() = false;
  NewLine();
}

void JsonWriter::NewLine() {
  m_out += '\n';
  m_out.append(2 * m_empty.size(), ' ');
}

}  // namespace AgentCheck
