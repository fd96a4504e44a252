#include "Evidence.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "Escape.h"
#include "Utf8.h"

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

// A record of the local platform is far shorter than this: a longer line is
// no record. Lines of stdout are judged as far as this too.
constexpr std::size_t kMaxRecord = 64 << 10;
// The end of stderr kept for a crash's detail.
constexpr std::size_t kErrTail = 4096;
// The different call names, and results directories, a run's evidence keeps.
constexpr std::size_t kMaxNames = 64;

// Problems of a transcript named one by one; the rest are counted.
constexpr std::size_t kMaxProblems = 10;
// Deeper lines are refused: no record of a call is nested so.
constexpr int kMaxDepth = 16;

// Reads one transcript line, as nlohmann's SAX parser reports it, into a
// CallRecord, keeping nothing else of it: memory stays as small as the
// record, whatever the line holds.
class RecordReader {
 public:
  using Json = nlohmann::json;

  // The record, or nullopt with the reason in Problem().
  std::optional<CallRecord> Read(std::string_view line) {
    if (!Json::sax_parse(line, this) && m_problem.empty()) m_problem = "is not JSON";
    if (!m_problem.empty()) return std::nullopt;
    if (m_record.call.empty()) {
      m_problem = "names no call";
      return std::nullopt;
    }
    return std::move(m_record);
  }
  const std::string& Problem() const { return m_problem; }

  // The parser's events; returning false ends the parse.
  bool null() { return Scalar(); }
  bool boolean(bool value) {
    if (m_nDepth == 1 && m_key == "failed") m_record.failed = value;
    return Scalar();
  }
  bool number_integer(Json::number_integer_t) { return Scalar(); }
  bool number_unsigned(Json::number_unsigned_t) { return Scalar(); }
  bool number_float(Json::number_float_t, const std::string&) { return Scalar(); }
  bool binary(Json::binary_t&) { return Scalar(); }
  bool string(std::string& value) {
    if (m_nDepth == 1 && m_key == "call") {
      m_record.call = std::move(value);
    } else if (m_nDepth == 1 && m_key == "state") {
      m_record.state = std::move(value);
    } else if (m_nDepth == 2 && m_in == In::Out && m_key == "dir") {
      m_record.outDir = std::move(value);
    } else if (m_nDepth == 2 && m_in == In::Args && m_key == "client") {
      m_record.client = std::move(value);
    }
    return Scalar();
  }
  bool start_object(std::size_t) {
    if (m_nDepth == 1) m_in = m_key == "out" ? In::Out : m_key == "args" ? In::Args : In::Other;
    return Open();
  }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return m_nDepth > 0 ? Open() : Refuse("is not an object"); }
  bool end_array() { return Close(); }
  bool key(std::string& name) {
    if (m_nDepth <= 2) m_key = std::move(name);
    return true;
  }
  // The parser's message quotes the line; only where it failed is kept.
  bool parse_error(std::size_t nByte, const std::string&, const nlohmann::detail::exception&) {
    return Refuse("is not JSON (byte " + std::to_string(nByte) + ")");
  }

 private:
  bool Refuse(std::string problem) {
    if (m_problem.empty()) m_problem = std::move(problem);
    return false;
  }
  bool Scalar() { return m_nDepth > 0 || Refuse("is not an object"); }
  bool Open() {
    if (++m_nDepth > kMaxDepth) return Refuse("is nested too deeply");
    return true;
  }
  bool Close() {
    if (--m_nDepth == 1) m_in = In::Other;
    return true;
  }

  CallRecord m_record;
  int m_nDepth = 0;
  std::string m_key;  // the last member's name at depth 1, or in "out" or "args"
  enum class In { Other, Out, Args };
  In m_in = In::Other;  // the record's member object the parser is within
  std::string m_problem;
};

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

void LineSplitter::Add(std::string_view piece) {
  while (!piece.empty()) {
    const std::size_t nEnd = piece.find('\n');
    const std::string_view part = piece.substr(0, nEnd);
    if (!m_bSkipping) {
      const std::size_t nRoom = m_nMaxLine - m_rest.size();
      if (part.size() > nRoom) {
        // Past its bound: handed on now, as far as the bound, and the rest
        // of it skipped to its end.
        m_rest.append(part.substr(0, nRoom));
        m_onLine(m_rest, ++m_nLine, true);
        m_rest.clear();
        m_bSkipping = true;
      } else if (nEnd != std::string_view::npos && m_rest.empty()) {
        m_onLine(part, ++m_nLine, false);  // whole within the piece: no copy
      } else {
        m_rest.append(part);
        if (nEnd != std::string_view::npos) {
          m_onLine(m_rest, ++m_nLine, false);
          m_rest.clear();
        }
      }
    }
    if (nEnd == std::string_view::npos) break;
    m_bSkipping = false;
    piece.remove_prefix(nEnd + 1);
  }
}

TranscriptReader::TranscriptReader(std::function<void(CallRecord&&)> onRecord)
    : m_onRecord(std::move(onRecord)),
      m_lines(kMaxRecord, [this](std::string_view line, std::size_t nLine, bool bLong) {
        if (bLong) {
          Problem(nLine, "is longer than " + std::to_string(kMaxRecord >> 10) + " KiB");
          return;
        }
        RecordReader reader;
        if (std::optional<CallRecord> record = reader.Read(line)) {
          m_onRecord(std::move(*record));
        } else {
          Problem(nLine, reader.Problem());
        }
      }) {}

void TranscriptReader::Problem(std::size_t nLine, const std::string& what) {
  if (m_problems.size() == kMaxProblems) {
    ++m_nMoreProblems;
  } else {
    m_problems.push_back("transcript line " + std::to_string(nLine) + " " + what);
  }
}

std::vector<std::string> TranscriptReader::Finish(bool bReadInPart) {
  // A line cut by the check's cap is no evidence; one cut by the agent is
  // a problem, though it is kept as a record if it reads as one.
  if (const std::size_t nLine = m_lines.RestLine(); nLine != 0 && !m_lines.RestIsLong()) {
    if (!bReadInPart) {
      RecordReader reader;
      if (std::optional<CallRecord> record = reader.Read(m_lines.Rest())) {
        m_onRecord(std::move(*record));
      }
      Problem(nLine, "is cut");
    }
  }
  if (m_nMoreProblems > 0) {
    m_problems.push_back("transcript: " + std::to_string(m_nMoreProblems) +
                         " more lines like these");
  }
  return std::move(m_problems);
}

std::vector<CallRecord> ReadTranscript(std::string_view text, std::vector<std::string>& problems) {
  std::vector<CallRecord> records;
  TranscriptReader reader(
      [&records](CallRecord&& record) { records.push_back(std::move(record)); });
  reader.Add(text);
  problems = reader.Finish(false);
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

std::optional<std::string> UnderRoot(const std::string& dir, const std::string& root) {
  if (dir.compare(0, root.size(), root) != 0 ||
      (dir.size() != root.size() && dir[root.size()] != '/')) {
    return std::nullopt;
  }
  return dir.substr(std::min(root.size() + 1, dir.size()));
}

std::size_t RawTextAt(std::string_view line, bool bCut) {
  for (std::size_t n = 0; n < line.size();) {
    const Utf8Char c = NextUtf8(line.substr(n));
    if (c.length == 0) {
      // A character cut by the line's bound is judged whole.
      if (bCut && line.size() - n < 4 && static_cast<unsigned char>(line[n]) >= 0xC2)
        return std::string_view::npos;
      return n;
    }
    if ((c.code < 0x20 && c.code != '\t') || (c.code >= 0x7F && c.code <= 0x9F)) return n;
    n += c.length;
  }
  return std::string_view::npos;
}

EvidenceReader::EvidenceReader(std::string root)
    : m_root(std::move(root)),
      m_transcript([this](CallRecord&& record) { Record(std::move(record)); }),
      m_out(kMaxRecord,
            [this](std::string_view line, std::size_t nLine, bool bCut) {
              RawText("stdout", line, nLine, bCut);
              if (!m_evidence.malformedTrace.empty()) return;
              const std::optional<TraceLine> trace = ReadTraceLine(line);
              if (!trace) return;
              if (!trace->wellFormed) {
                m_evidence.malformedTrace = "stdout line " + std::to_string(nLine) + " \"" +
                                            EscapeText(line.substr(0, 80)) +
                                            "\" is not in the library's form";
              } else if (std::string option = OptionOfTraceKey(trace->key); !option.empty()) {
                m_evidence.optionsTraced.insert(std::move(option));
              }
            }),
      m_err(kMaxRecord, [this](std::string_view line, std::size_t nLine, bool bCut) {
        RawText("stderr", line, nLine, bCut);
      }) {}

void EvidenceReader::RawText(const char* pszOutput, std::string_view line, std::size_t nLine,
                             bool bCut) {
  if (!m_evidence.rawText.empty()) return;
  const std::size_t nAt = RawTextAt(line, bCut);
  if (nAt == std::string_view::npos) return;
  // The line around the raw byte, escaped.
  const std::size_t nFrom = nAt > 40 ? nAt - 40 : 0;
  m_evidence.rawText = std::string(pszOutput) + " line " + std::to_string(nLine) + " \"" +
                       (nFrom > 0 ? "..." : "") + EscapeText(line.substr(nFrom, 80)) +
                       (line.size() > nFrom + 80 ? "..." : "") + "\" holds a raw byte at column " +
                       std::to_string(nAt + 1);
}

void EvidenceReader::Record(CallRecord&& record) {
  ++m_evidence.nRecords;
  // A transcript names a few calls and folders; an agent that writes its
  // own may name any number, which are not kept.
  auto found = m_evidence.calls.find(record.call);
  if (found == m_evidence.calls.end()) {
    if (m_evidence.calls.size() == kMaxNames) {
      m_bTooManyNames = true;
      return;
    }
    found = m_evidence.calls.emplace(std::move(record.call), CallTally{}).first;
  }
  CallTally& tally = found->second;
  if (record.state != "held") ++tally.made;
  if (record.failed && tally.failed++ == 0) tally.firstFailure = m_evidence.nRecords;
  if (record.state == "held" || record.failed) return;
  if (std::optional<std::string> folder = UnderRoot(record.outDir, m_root)) {
    if (m_evidence.resultsFolders.size() == kMaxNames ||
        m_evidence.clientResultsFolders.size() == kMaxNames) {
      m_bTooManyNames = true;
    } else {
      if (!record.client.empty()) m_evidence.clientResultsFolders[record.client] = *folder;
      m_evidence.resultsFolders.insert(std::move(*folder));
    }
  }
}

void EvidenceReader::Err(std::string_view piece) {
  m_err.Add(piece);
  if (m_evidence.errBlank)
    m_evidence.errBlank = piece.find_first_not_of(" \t\r\n") == std::string_view::npos;
  std::string& tail = m_evidence.errTail;
  if (piece.size() >= kErrTail) {
    tail.assign(piece.substr(piece.size() - kErrTail));
  } else {
    tail.append(piece);
    if (tail.size() > kErrTail) tail.erase(0, tail.size() - kErrTail);
  }
}

Evidence EvidenceReader::Finish(bool bTranscriptCut, bool bOutCut, bool bErrCut) {
  std::vector<std::string> problems = m_transcript.Finish(bTranscriptCut);
  if (m_bTooManyNames) {
    problems.insert(problems.begin(), "the transcript names more than " +
                                          std::to_string(kMaxNames) +
                                          " different calls or results directories");
  }
  m_evidence.transcriptProblems = std::move(problems);
  // stdout's last line, without its end: judged as it is, unless the cap
  // cut it.
  if (m_out.RestLine() != 0 && !bOutCut && !m_out.RestIsLong()) {
    m_out.Add("\n");
  }
  if (m_err.RestLine() != 0 && !bErrCut && !m_err.RestIsLong()) {
    m_err.Add("\n");
  }
  return std::move(m_evidence);
}

Evidence ReadEvidence(const OutputTexts& texts) {
  EvidenceReader reader(texts.root);
  reader.Transcript(texts.transcript);
  reader.Out(texts.out);
  reader.Err(texts.err);
  return reader.Finish(texts.transcriptCut, texts.outCut, texts.errCut);
}

}  // namespace AgentCheck
