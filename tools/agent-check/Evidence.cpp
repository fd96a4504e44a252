#include "Evidence.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "Escape.h"

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
    } else if (m_nDepth == 2 && m_bInOut && m_key == "dir") {
      m_record.outDir = std::move(value);
    }
    return Scalar();
  }
  bool start_object(std::size_t) {
    if (m_nDepth == 1) m_bInOut = m_key == "out";
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
    if (--m_nDepth == 1) m_bInOut = false;
    return true;
  }

  CallRecord m_record;
  int m_nDepth = 0;
  std::string m_key;      // the last member's name at depth 1, or in "out"
  bool m_bInOut = false;  // within the object that is the record's "out"
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

std::vector<CallRecord> ReadTranscript(std::string_view text, std::vector<std::string>& problems) {
  std::vector<CallRecord> records;
  std::size_t nMoreProblems = 0;
  // Line by line as they come, so that nothing but the records grows.
  for (std::size_t nLine = 1; !text.empty(); ++nLine) {
    const std::size_t nEnd = text.find('\n');
    const bool bCut = nEnd == std::string_view::npos;
    RecordReader reader;
    std::optional<CallRecord> record = reader.Read(text.substr(0, nEnd));
    text.remove_prefix(bCut ? text.size() : nEnd + 1);
    // A cut line that still reads as a record, cut just before its line
    // end, is kept too.
    if (record) records.push_back(std::move(*record));
    if (record && !bCut) continue;
    if (problems.size() == kMaxProblems) {
      ++nMoreProblems;
      continue;
    }
    problems.push_back("transcript line " + std::to_string(nLine) + " " +
                       (bCut ? std::string("is cut") : reader.Problem()));
  }
  if (nMoreProblems > 0) {
    problems.push_back("transcript: " + std::to_string(nMoreProblems) + " more lines like these");
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

namespace AgentCheck {
namespace {

// A record of the local platform is far shorter than this: a longer line is
// no record, wherever it would have ended.
constexpr std::size_t kMaxRecord = 64 << 10;
// The end of stderr kept for a crash's detail.
constexpr std::size_t kErrTail = 4096;

// `text` without a last line that a cap cut.
std::string_view WithoutCutLine(std::string_view text, bool bCut) {
  if (!bCut) return text;
  const std::size_t nEnd = text.rfind('\n');
  return nEnd == std::string_view::npos ? std::string_view() : text.substr(0, nEnd + 1);
}

// The first stdout line that looks like a trace line but is out of form,
// told with its number; and the options that the well-formed ones show.
std::string ReadTrace(std::string_view out, std::set<std::string>& optionsTraced) {
  int nLine = 0;
  for (const std::string_view line : Lines(out)) {
    ++nLine;
    const std::optional<TraceLine> trace = ReadTraceLine(line);
    if (!trace) continue;
    if (!trace->wellFormed) {
      return "stdout line " + std::to_string(nLine) + " \"" + EscapeText(line.substr(0, 80)) +
             "\" is not in the library's form";
    }
    if (std::string option = OptionOfTraceKey(trace->key); !option.empty()) {
      optionsTraced.insert(std::move(option));
    }
  }
  return {};
}

}  // namespace

std::set<std::string> ResultsFolders(const std::vector<CallRecord>& records,
                                     const std::string& root) {
  std::set<std::string> folders;
  for (const CallRecord& record : records) {
    if (record.state != "held" && !record.failed &&
        record.outDir.compare(0, root.size(), root) == 0 &&
        (record.outDir.size() == root.size() || record.outDir[root.size()] == '/')) {
      folders.insert(record.outDir.substr(std::min(root.size() + 1, record.outDir.size())));
    }
  }
  return folders;
}

Evidence GatherEvidence(RunResult& run) {
  Evidence evidence;
  const std::string_view transcript = WithoutCutLine(run.transcript, run.transcriptCut);
  evidence.records = ReadTranscript(transcript, evidence.transcriptProblems);
  if (run.transcript.size() - transcript.size() > kMaxRecord) {
    evidence.transcriptProblems.insert(
        evidence.transcriptProblems.begin(),
        "the transcript's last line is longer than " + std::to_string(kMaxRecord >> 10) + " KiB");
  }
  if (!run.transcriptProblem.empty()) {
    evidence.transcriptProblems.insert(evidence.transcriptProblems.begin(), run.transcriptProblem);
  }
  evidence.resultsFolders = ResultsFolders(evidence.records, run.root);
  evidence.malformedTrace = ReadTrace(WithoutCutLine(run.out, run.outCut), evidence.optionsTraced);
  evidence.errBlank = run.err.find_first_not_of(" \t\r\n") == std::string::npos;
  evidence.errTail = run.err.substr(run.err.size() - std::min(run.err.size(), kErrTail));
  std::string().swap(run.out);
  std::string().swap(run.err);
  std::string().swap(run.transcript);
  return evidence;
}

}  // namespace AgentCheck
