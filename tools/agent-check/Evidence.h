// What a run of an agent shows: the platform calls in its transcript, the
// trace lines on its stdout and the end of its stderr, each output read
// once, right after the run, and then let go.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Runner.h"

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

// What one run's outputs showed.
struct Evidence {
  std::vector<CallRecord> records;
  // Why the transcript cannot be trusted whole; empty: it can.
  std::vector<std::string> transcriptProblems;
  // The directories under the root that successful calls named, relative
  // to it: where the run's results go.
  std::set<std::string> resultsFolders;
  std::set<std::string> optionsTraced;  // by well-formed trace lines: "-j"
  std::string malformedTrace;           // the first line out of form, told; empty: none
  bool errBlank = true;                 // nothing but blanks on stderr
  std::string errTail;                  // the end of stderr, for a crash's detail
};

// Reads the outputs of `run` once and lets them go: `run` keeps no text
// after it. A line that a cap cut is no evidence, unless it is longer than
// any transcript record can be, which makes it a problem of its own.
Evidence GatherEvidence(RunResult& run);

// The directories under `root` that the platform named in successful calls
// of `records`, relative to the root.
std::set<std::string> ResultsFolders(const std::vector<CallRecord>& records,
                                     const std::string& root);

}  // namespace AgentCheck
