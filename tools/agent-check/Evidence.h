// What a run of an agent shows: the platform calls in its transcript and the
// trace lines on its stdout.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace AgentCheck {

// One record of the local platform's transcript.
struct CallRecord {
  std::string call;   // "getJobResultsDirectory"
  std::string state;  // "returned", "threw" or "held"
  bool failed = false;
  std::string outDir;  // the directory the call wrote, if it wrote one
};

// The records of a transcript, one JSON object a line, in the file's order.
// Each line that is not such an object, and a last line without its line
// end ("transcript line 9 is cut", kept as a record if it reads as one), is
// named in `problems` by its number, never by its text: the first ten, then
// how many more. Memory beyond the records stays within a line's size.
std::vector<CallRecord> ReadTranscript(std::string_view text, std::vector<std::string>& problems);

// A stdout line that looks like one of the library's trace lines: a trace
// key, in any case and after any blanks, then '=' or ':'.
struct TraceLine {
  std::string key;  // as the library writes it: "JobId"
  bool wellFormed;  // exactly in the library's form
};
std::optional<TraceLine> ReadTraceLine(std::string_view line);

// The command-line option whose value a trace key shows ("-j" for JobId);
// empty for the flags' keys.
std::string OptionOfTraceKey(std::string_view key);

// Every line of `text`, without its line end; a last line without one too.
std::vector<std::string_view> Lines(std::string_view text);

}  // namespace AgentCheck
