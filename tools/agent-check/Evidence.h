// What a run of an agent shows: the platform calls in its transcript, the
// trace lines on its stdout and the end of its stderr, each output read
// once, in pieces, into what judging needs and no more.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
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
  std::string client;  // the client the call was asked about, if it names one
};

// Splits a text that arrives in pieces into lines, holding at most one
// line's worth, `nMaxLine` bytes, of it: a longer line is handed on as its
// first `nMaxLine` bytes, flagged, and the rest of it is skipped.
class LineSplitter {
 public:
  // (line without its end, its number from 1, whether it was longer)
  using OnLine = std::function<void(std::string_view, std::size_t, bool)>;
  LineSplitter(std::size_t nMaxLine, OnLine onLine)
      : m_nMaxLine(nMaxLine), m_onLine(std::move(onLine)) {}

  void Add(std::string_view piece);
  // What is left after the last line end: its number, or 0 when nothing is.
  // `Rest()` has its bytes; it is not handed on.
  std::size_t RestLine() const { return m_rest.empty() && !m_bSkipping ? 0 : m_nLine + 1; }
  std::string_view Rest() const { return m_rest; }
  bool RestIsLong() const { return m_bSkipping; }

 private:
  std::size_t m_nMaxLine;
  OnLine m_onLine;
  std::string m_rest;        // the line begun and not yet ended
  bool m_bSkipping = false;  // in a line past its bound, already handed on
  std::size_t m_nLine = 0;   // lines handed on
};

// Reads a transcript as it comes, a piece at a time, into records, naming
// each line that is no record by its number, never by its text: the first
// ten, then how many more. Memory stays within a line's bound, whatever the
// transcript holds.
class TranscriptReader {
 public:
  explicit TranscriptReader(std::function<void(CallRecord&&)> onRecord);
  void Add(std::string_view piece) { m_lines.Add(piece); }
  // After the last piece. `bReadInPart`: the check stopped reading at its
  // cap, so a line cut there is no evidence (unless no record can be that
  // long); else a last line without its end is a problem ("transcript
  // line 9 is cut"), and kept as a record if it reads as one.
  std::vector<std::string> Finish(bool bReadInPart);

 private:
  void Problem(std::size_t nLine, const std::string& what);

  std::function<void(CallRecord&&)> m_onRecord;
  std::vector<std::string> m_problems;
  std::size_t m_nMoreProblems = 0;
  LineSplitter m_lines;
};

// The records of a whole transcript in memory; problems as TranscriptReader
// names them.
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

// Where `line` holds raw text that no terminal or log shows as it is: a C0
// control byte other than tab, DEL, a C1 control or bytes that are not
// UTF-8. npos when it holds none. `bCut`: the line was cut at a bound, so a
// sequence begun at its end may be whole past it.
std::size_t RawTextAt(std::string_view line, bool bCut);

// Every line of `text`, without its line end; a last line without one too.
std::vector<std::string_view> Lines(std::string_view text);

// What one run's outputs showed: no text of them but the end of stderr,
// and a bounded tally of the calls.
struct CallTally {
  int made = 0;
  int failed = 0;
  std::size_t firstFailure = 0;  // the record number of its first failure
};
struct Evidence {
  std::size_t nRecords = 0;
  std::map<std::string, CallTally> calls;  // by call name
  // Why the transcript cannot be trusted whole; empty: it can.
  std::vector<std::string> transcriptProblems;
  // The directories under the root that successful calls named, relative
  // to it: where the run's results go.
  std::set<std::string> resultsFolders;
  // The results directory the platform named for each client it was asked
  // about, relative to the root.
  std::map<std::string, std::string> clientResultsFolders;
  std::set<std::string> optionsTraced;  // by well-formed trace lines: "-j"
  std::string malformedTrace;           // the first line out of form, told; empty: none
  std::string rawText;                  // the first line with raw text, told; empty: none
  bool errBlank = true;                 // nothing but blanks on stderr
  std::string errTail;                  // the end of stderr, for a crash's detail
};

// Reads a run's three outputs, each in pieces as they are read from their
// files, into its Evidence. The platform root is the one the run was given.
class EvidenceReader {
 public:
  explicit EvidenceReader(std::string root);
  void Transcript(std::string_view piece) { m_transcript.Add(piece); }
  void Out(std::string_view piece) { m_out.Add(piece); }
  void Err(std::string_view piece);
  // After the last piece of each; which were read only in part.
  Evidence Finish(bool bTranscriptCut, bool bOutCut, bool bErrCut);

 private:
  void Record(CallRecord&& record);
  // Notes the first line of an output that holds raw text.
  void RawText(const char* pszOutput, std::string_view line, std::size_t nLine, bool bCut);

  std::string m_root;
  Evidence m_evidence;
  bool m_bTooManyNames = false;
  TranscriptReader m_transcript;
  LineSplitter m_out;
  LineSplitter m_err;
};

// The outputs of a run held in memory, read as EvidenceReader reads them.
struct OutputTexts {
  std::string root;
  std::string_view transcript, out, err;
  bool transcriptCut = false, outCut = false, errCut = false;
};
Evidence ReadEvidence(const OutputTexts& texts);

// The directory `dir` relative to `root` when it is under it (or is it: "").
std::optional<std::string> UnderRoot(const std::string& dir, const std::string& root);

}  // namespace AgentCheck
