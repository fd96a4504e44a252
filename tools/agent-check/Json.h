// JSON for the agent check: a reader for the local platform's transcript
// lines and a writer for the check's report.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace AgentCheck {

// One JSON value. Numbers are kept as doubles: the transcript's are small.
struct JsonValue {
  enum class Kind { Null, Bool, Number, Text, Array, Object };

  Kind kind = Kind::Null;
  bool flag = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;  // in the text's order

  // The member named `name`; null when there is none or this is no object.
  const JsonValue* Find(std::string_view name) const;
  // The member's text; empty when it is absent or not a text.
  std::string TextOf(std::string_view name) const;
  bool FlagOf(std::string_view name) const;
};

// `text` as one JSON value with nothing but blanks around it, or nullopt
// with the reason and its offset in `why`.
std::optional<JsonValue> ParseJson(std::string_view text, std::string& why);

// Writes JSON with two-space indents. Each value goes where the open object
// or array is; in an object every value follows its Key().
class JsonWriter {
 public:
  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }
  JsonWriter& Key(std::string_view name);
  JsonWriter& Text(std::string_view text);
  JsonWriter& Number(double value);
  JsonWriter& Flag(bool value);
  JsonWriter& Null();
  // A text, or null when `text` is empty.
  JsonWriter& TextOrNull(std::string_view text) { return text.empty() ? Null() : Text(text); }

  // The document, ended by a line end once every object and array is closed.
  const std::string& Document() const { return m_out; }

 private:
  JsonWriter& Open(char bracket);
  JsonWriter& Close(char bracket);
  void BeginValue();
  void NewLine();

  std::string m_out;
  std::vector<bool> m_empty;  // for each open object or array: nothing in it yet
  bool m_bAfterKey = false;
};

}  // namespace AgentCheck
