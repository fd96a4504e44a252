// Renders arbitrary values, and every value of the tables, through the eight
// display operations; the wide text must be the narrow one widened.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CommonArguments.h"
#include "JobUtils.h"

namespace {

template <typename Display>
void Render(unsigned int value) {
  const std::string narrow = Display::AsString(value);
  const std::wstring wide = Display::AsWstring(value);
  if (narrow.empty() || std::wstring(narrow.begin(), narrow.end()) != wide) std::abort();
}

void RenderAll(unsigned int value) {
  Render<EJobStatus>(value);
  Render<EJobStatusFor>(value);
  Render<EScanType>(value);
  Render<BScanModeReason>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  unsigned int value = 0;
  std::memcpy(&value, data, size < sizeof value ? size : sizeof value);
  RenderAll(value);
  // Small values hit the rows themselves, bit sets their combinations.
  RenderAll(value % 16);
  RenderAll(value & 0xF03);
  return 0;
}
