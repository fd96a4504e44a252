#include "Evidence.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "Json.h"

namespace AgentCheck {
namespace {

// The value's form after "Key=".
enum class Form { Text, Signed, Flag01, OnOff, Application };

struct TraceKey {
  std::string_view key;
  std::string_view option;  // empty: a flag, never missing
  Form form;
};

// The library's trace lines, as CArguments prints them.
constexpr TraceKey kTraceKeys[] = {
    {"JobId", "-j", Form::Signed},       {"ApplicationId", "-a", Form::Application},
    {"ClientName", "-cn", Form::Text},   {"ZentServeHostName", "-qs", Form::Text},
    {"Instance", "-vm", Form::Text},     {"JobManagerToken", "-jt", Form::Text},
    {"StorenodeName", "-d", Form::Text}, {"SnapBackupJobId", "-snapjid", Form::Signed},
    {"SyntheticFull", "", Form::Flag01}, {"BlockLevelMetadata", "", Form::OnOff},
};

// Text as the library prints it: its control characters escaped.
bool IsPrintedText(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

bool IsDecimal(std::string_view text, bool bSigned) {
  if (bSigned && !text.empty() && text[0] == '-') text.remove_prefix(1);
  if (text.empty() || text.size() > 20) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  errno = 0;
  const std::string number(text);
  if (bSigned) {
    (void)std::strtoll(number.c_str(), nullptr, 10);
  } else {
    (void)std::strtoull(number.c_str(), nullptr, 10);
  }
  return errno != ERANGE;
}

bool IsUnsigned32(std::string_view text) {
  return IsDecimal(text, false) && text.size() <= 10 &&
         std::strtoull(std::string(text).c_str(), nullptr, 10) <= 0xFFFFFFFFULL;
}

// "<text>, ZentCellId=<n>, ApplicationNumber=<n>", each n within 32 bits.
bool IsApplicationValue(std::string_view value) {
  constexpr std::string_view kCell = ", ZentCellId=";
  constexpr std::string_view kNumber = ", ApplicationNumber=";
  const std::size_t nNumber = value.rfind(kNumber);
  if (nNumber == std::string_view::npos) return false;
  const std::size_t nCell = value.rfind(kCell, nNumber);
  if (nCell == std::string_view::npos) return false;
  return IsPrintedText(value.substr(0, nCell)) &&
         IsUnsigned32(value.substr(nCell + kCell.size(), nNumber - nCell - kCell.size())) &&
         IsUnsigned32(value.substr(nNumber + kNumber.size()));
}

bool IsWellFormed(Form form, std::string_view value) {
  switch (form) {
    case Form::Text:
      return IsPrintedText(value);
    case Form::Signed:
      return IsDecimal(value, true);
    case Form::Flag01:
      return value == "0" || value == "1";
    case Form::OnOff:
      return value == "ON" || value == "OFF";
    case Form::Application:
      return IsApplicationValue(value);
  }
  return false;
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t nEnd = text.find('\n');
    lines.push_back(text.substr(0, nEnd));
    if (nEnd == std::string_view::npos) break;
    text.remove_prefix(nEnd + 1);
  }
  return lines;
}

std::vector<CallRecord> ReadTranscript(std::string_view text, std::vector<std::string>& problems) {
  std::vector<CallRecord> records;
  int nLine = 0;
  for (const std::string_view line : Lines(text)) {
    ++nLine;
    std::string why;
    const std::optional<JsonValue> value = ParseJson(line, why);
    if (!value || value->kind != JsonValue::Kind::Object || value->TextOf("call").empty()) {
      problems.push_back("transcript line " + std::to_string(nLine) + ": " +
                         (value ? "not a record of a call" : why));
      continue;
    }
    CallRecord record{value->TextOf("call"), value->TextOf("state"), value->FlagOf("failed"), {}};
    if (const JsonValue* out = value->Find("out")) record.outDir = out->TextOf("dir");
    records.push_back(std::move(record));
  }
  return records;
}

std::optional<TraceLine> ReadTraceLine(std::string_view line) {
  std::size_t nWord = 0;
  while (nWord < line.size() && (line[nWord] == ' ' || line[nWord] == '\t'))
    ++nWord;
  std::size_t nEnd = nWord;
  while (nEnd < line.size() && std::isalpha(static_cast<unsigned char>(line[nEnd])))
    ++nEnd;
  std::size_t nSeparator = nEnd;
  while (nSeparator < line.size() && (line[nSeparator] == ' ' || line[nSeparator] == '\t'))
    ++nSeparator;
  if (nSeparator == line.size() || (line[nSeparator] != '=' && line[nSeparator] != ':')) {
    return std::nullopt;
  }
  const std::string_view word = line.substr(nWord, nEnd - nWord);
  for (const TraceKey& key : kTraceKeys) {
    if (!SameWord(word, key.key)) continue;
    const bool bExact = nWord == 0 && word == key.key && nSeparator == nEnd &&
                        line[nSeparator] == '=' &&
                        IsWellFormed(key.form, line.substr(nSeparator + 1));
    return TraceLine{std::string(key.key), bExact};
  }
  return std::nullopt;
}

std::string OptionOfTraceKey(std::string_view key) {
  for (const TraceKey& traceKey : kTraceKeys) {
    if (traceKey.key == key) return std::string(traceKey.option);
  }
  return {};
}

}  // namespace AgentCheck
