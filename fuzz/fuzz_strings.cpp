// Splitting, trimming and path joining on arbitrary text. The first two bytes
// say how long the separator (or trim set) and the second text are.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FXString.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const char* bytes = reinterpret_cast<const char*>(data) + 2;
  std::string rest(bytes, size - 2);
  const std::size_t firstLength = data[0] % 4 < rest.size() ? data[0] % 4 : rest.size();
  std::string separator = rest.substr(0, firstLength);
  for (char& c : separator)
    c = c == '\0' ? ':' : c;  // it travels as a C string
  rest.erase(0, firstLength);
  const std::size_t secondLength = data[1] < rest.size() ? data[1] : rest.size();
  const std::string second = rest.substr(0, secondLength);
  const std::string text = rest.substr(secondLength);

  // Split: the fields joined by the separator give the text back.
  std::vector<std::string> parts;
  if (!FXString::Split(text, separator.c_str(), parts, 0).IsError()) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i)
      joined += (i ? separator : "") + parts[i];
    Check(joined == text);
  }

  // TrimRight: a prefix of the text that no longer ends in the set.
  std::string trimmed = text;
  FXString::TrimRight(trimmed, separator);
  Check(text.compare(0, trimmed.size(), trimmed) == 0);
  Check(trimmed.empty() || separator.find(trimmed.back()) == std::string::npos);

  // Append: one separator at the joint.
  std::string path = text;
  (void)FXPath::Append(path, second, 0);
  if (!text.empty() && !second.empty() && text.back() != '/' && second.front() != '/') {
    Check(path == text + "/" + second);
  }
  return 0;
}
