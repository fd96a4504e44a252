// The agent check's reading of a transcript, which an agent can write
// itself, on arbitrary bytes; and the texts escaped for the terminal and
// written as transcript JSON.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Escape.h"
#include "Evidence.h"
#include "JsonText.h"
#include "Utf8.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsSafe(std::string_view shown) {
  if (!IsUtf8(shown)) return false;
  for (const char c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // A few problems, each naming its line and none quoting it.
  std::vector<std::string> problems;
  const std::vector<AgentCheck::CallRecord> records = AgentCheck::ReadTranscript(text, problems);
  Check(problems.size() <= 11);
  for (const std::string& problem : problems) {
    Check(problem.rfind("transcript", 0) == 0);
    for (const char c : problem)
      Check(c >= 0x20 && c < 0x7F);
  }
  for (const AgentCheck::CallRecord& record : records)
    Check(!record.call.empty());

  // Read in pieces, as the check reads a file, it reads the same: pieces cut
  // anywhere, at a point the input's first byte chooses.
  std::vector<AgentCheck::CallRecord> pieced;
  AgentCheck::TranscriptReader reader(
      [&pieced](AgentCheck::CallRecord&& record) { pieced.push_back(std::move(record)); });
  const std::size_t nStep = size == 0 ? 1 : 1 + data[0] % 97;
  for (std::size_t n = 0; n < text.size(); n += nStep)
    reader.Add(text.substr(n, nStep));
  Check(reader.Finish(false) == problems);
  Check(pieced.size() == records.size());
  for (std::size_t n = 0; n < records.size(); ++n) {
    Check(pieced[n].call == records[n].call && pieced[n].state == records[n].state &&
          pieced[n].failed == records[n].failed && pieced[n].outDir == records[n].outDir);
  }

  // Escaped: safe to show, and the same when escaped again.
  const std::string shown = AgentCheck::EscapeText(text);
  Check(IsSafe(shown));
  Check(AgentCheck::EscapeText(shown) == shown);

  // As a transcript member: strict JSON whose bytes member gives the text back.
  std::string member = "{";
  AppendJsonTextMember(member, "t", text);
  member += '}';
  const nlohmann::json parsed = nlohmann::json::parse(member, nullptr, false);
  Check(!parsed.is_discarded());
  if (IsUtf8(text)) {
    Check(parsed.size() == 1 && parsed["t"] == std::string(text));
  } else {
    std::string hex;
    AppendHex(hex, text);
    Check(parsed.size() == 2 && parsed["tBytes"] == hex);
  }
  return 0;
}
