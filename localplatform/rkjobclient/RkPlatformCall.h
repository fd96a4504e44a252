// One call into the local job platform: what the controls tell it to do
// (hold it until a signal, make it throw) and its record in the transcript
// that kTranscriptVariable names. Internal to the stand-in library.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <type_traits>

#include "RkLocalPlatform.h"

namespace RkLocalPlatform {
namespace detail {

// True when kTranscriptVariable names a file; read at the first call.
bool TranscriptKept();

// Made at the start of a platform call, given its arguments, and told how
// it ended; the record is appended when the call returns or throws. Costs a
// test of TranscriptKept() alone when no transcript is kept.
class PlatformCall {
 public:
  explicit PlatformCall(const char* pszName)
      : m_pszName(pszName), m_bKept(TranscriptKept()), m_nUncaught(std::uncaught_exceptions()) {}
  // A call that the controls can make throw or hold, named as the list of
  // calls names it.
  explicit PlatformCall(Call call) : PlatformCall(NamesOf(call).transcriptName) { m_call = call; }
  // A call left by an exception that Begin() did not throw.
  ~PlatformCall();
  PlatformCall(const PlatformCall&) = delete;
  PlatformCall& operator=(const PlatformCall&) = delete;

  PlatformCall& ArgText(const char* pszName, const char* pszText) {
    return Member(m_strArgs, TextMember(pszName, pszText));
  }
  template <typename T>
  PlatformCall& ArgNumber(const char* pszName, T value) {
    return Field(m_strArgs, pszName, m_bKept ? std::to_string(value) : std::string());
  }
  PlatformCall& ArgFlag(const char* pszName, bool bValue) {
    return Field(m_strArgs, pszName, bValue ? "true" : "false");
  }
  // A text the call wrote for its caller, of at most `nCapacity` bytes: it
  // may lack its NUL.
  PlatformCall& OutText(const char* pszName, const char* pszText, std::size_t nCapacity);
  template <typename T>
  PlatformCall& LastError(T value) {
    m_strLastError = m_bKept ? std::to_string(value) : std::string();
    return *this;
  }
  PlatformCall& LastErrorText(const char* pszText) {
    m_strLastErrorText = TextMember("lastErrorText", pszText);
    return *this;
  }

  // Holds the call when told to (HoldUntilSignalled), recorded as held,
  // until the thread catches a signal, and then returns true: the caller
  // fails the call as cancelled. Else throws std::runtime_error, recorded,
  // when told to (ThrowFrom), or returns false. Takes the order to send
  // SIGTERM once the call returns (TerminateAfter).
  // A call not made from a Call is never held, thrown from or terminated.
  [[nodiscard]] bool Begin();

  // Records that the call returned `result` and whether that is a failure;
  // returns `result`. A pointer other than a text is recorded as true, or
  // null.
  template <typename T>
  T Returned(T result, bool bFailed) {
    if (m_bKept) Write("returned", ResultMember(result), bFailed, "null");
    if (m_bTerminate) Terminate();
    return result;
  }
  void ReturnedNothing() {
    if (m_bKept) Write("returned", kNoResult, false, "null");
    if (m_bTerminate) Terminate();
  }

 private:
  static constexpr const char* kNoResult = "\"result\":null";

  // Appends a member, `"name":json` or what TextMember() made, to `object`.
  PlatformCall& Member(std::string& object, const std::string& member);
  PlatformCall& Field(std::string& object, const char* pszName, const std::string& json);
  // `"name":"text"`, with "nameBytes" when the text is not UTF-8; or null.
  std::string TextMember(const char* pszName, const char* pszText) const;
  template <typename T>
  std::string ResultMember(T result) const {
    if constexpr (std::is_same_v<T, const char*>) {
      return TextMember("result", result);
    } else if constexpr (std::is_same_v<T, bool>) {
      return result ? "\"result\":true" : "\"result\":false";
    } else if constexpr (std::is_pointer_v<T>) {
      return result != nullptr ? "\"result\":true" : kNoResult;
    } else {
      return "\"result\":" + std::to_string(result);
    }
  }
  void Write(const char* pszState, const std::string& resultMember, bool bFailed,
             const std::string& thrown);
  // Sends SIGTERM to the calling thread, whose handler runs before it returns.
  static void Terminate();
  // The record's fields after its sequence number and process.
  std::string Record(const char* pszState, const std::string& resultMember, bool bFailed,
                     const std::string& thrown) const;

  const char* m_pszName;
  std::optional<Call> m_call;  // empty: the controls do not reach this call
  bool m_bKept;
  int m_nUncaught;
  bool m_bWritten = false;
  bool m_bTerminate = false;  // SIGTERM once the call has its answer
  std::string m_strArgs;
  std::string m_strOut;
  std::string m_strLastError = "null";
  std::string m_strLastErrorText;  // its member; empty: the call leaves no last error text
};

}  // namespace detail
}  // namespace RkLocalPlatform
