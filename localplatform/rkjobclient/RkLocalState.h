// State of the local job platform, shared by its classes and its control
// API. Internal to the stand-in library.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "RkLocalPlatform.h"

namespace RkLocalPlatform {
namespace detail {

// The machine's own client: the focus client when none is set, and the
// client of the one application known by default.
inline constexpr const char kLocalClientName[] = "localclient";

// Failure results the local platform chooses for itself.
inline constexpr int kResultAccessDenied = 5;
inline constexpr int kResultInvalidParameter = 87;
inline constexpr int kResultInsufficientBuffer = 122;
inline constexpr int kResultNotFound = 1168;

// Capacities a text handed out by the platform never exceeds, NUL included.
inline constexpr std::size_t kJobResultsDirCapacity = 2048;
inline constexpr std::size_t kSubclientDirCapacity = 1024;

// Only the latest calls are recorded, so that a long-running process (or a
// benchmark) does not grow with every call.
inline constexpr std::size_t kMaxRecordedCalls = 64;

template <typename T>
void Record(std::deque<T>& calls, T args) {
  if (calls.size() == kMaxRecordedCalls) calls.pop_front();
  calls.push_back(std::move(args));
}

struct InitFailure {
  int code;
  std::optional<std::string> text;
};

// Everything Reset() restores.
struct Settings {
  std::string zentServerHostName = "zentserver.localdomain";
  std::map<std::string, std::string> applications = {{"2:17", kLocalClientName}};
  std::optional<InitFailure> initFailure;
  std::function<void()> initCallback;
  std::set<Call> throwingCalls;
  // The next call of each is held until a signal, after its callback runs.
  std::map<Call, std::function<void()>> heldCalls;
  // The next call of each sends SIGTERM to its thread once it has its answer.
  std::set<Call> terminatingCalls;
  bool platformInvalid = false;
  std::optional<unsigned long> zentServerHostNameFailure;
  std::optional<unsigned long> jobResultsDirectoryFailure;
  std::optional<std::string> jobResultsDirectory;  // none: built on the root
  bool scribbleOnScratchBuffers = false;
  bool unterminatedDirectories = false;
  int getApplicationIdResult = 0;
  bool getClientFails = false;
  int getNameResult = 0;
  int subclientDirResult = 0;
  std::optional<std::string> subclientDir;

  std::deque<InitArgs> initCalls;
  std::deque<JobResultsDirectoryArgs> jobResultsDirectoryCalls;
  std::deque<SubclientDirArgs> subclientDirCalls;

  // Null when no focus client is set; otherwise one of State::names.
  const char* focusClient = nullptr;
};

struct State {
  Settings settings;
  // Every focus client name ever set. Never shrinks, so a name handed out
  // stays valid for the life of the process.
  std::set<std::string> names;
};

// Constructed on first use and never destroyed, so that the platform stays
// usable from other objects' destructors at exit.
template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

std::mutex& StateMutex();
// Built at the first call, with the failures that kFaultsVariable arms.
State& UnlockedState();

// The default settings with the failures of the fault list `list` (the
// syntax of kFaultsVariable) armed on them, or why the list is malformed,
// quoting the offending item.
[[nodiscard]] RKJOBCLIENT_API std::variant<Settings, std::string> ParseFaults(
    std::string_view list);

// Runs `f` on the state under its mutex and returns what `f` returns. `f`
// must not call back into the platform.
template <typename F>
auto WithState(F&& f) {
  std::lock_guard<std::mutex> lock(StateMutex());
  return std::forward<F>(f)(UnlockedState());
}

// nullopt for a null text.
inline std::optional<std::string> OptionalText(const char* psz) {
  return psz ? std::optional<std::string>(psz) : std::nullopt;
}
inline ReceivedText Received(const char* psz) {
  return psz ? ReceivedText{false, psz} : ReceivedText{true, std::string()};
}

// Copies `text` and its NUL into `pszBuffer` when it fits in `capacity`
// bytes; false, with nothing written, when it does not.
bool CopyOut(const std::string& text, char* pszBuffer, std::size_t capacity);

// Appends the root directory in use (see Root()); true when it is the
// default root rather than one named by kRootVariable.
bool AppendRoot(std::string& out);
// Appends the root directory in use for a lookup to build a path on. The
// default root is made ready first (see Root()); false, with nothing
// appended and the reason on stderr, when it is refused.
[[nodiscard]] bool AppendUsableRoot(std::string& out);

// A platform object keeps the stand-in's own members in the reserve of its
// declared class: a T that the object's constructor builds there and its
// destructor destroys.
template <typename T, std::size_t N, typename... Args>
void ConstructIn(unsigned char (&reserve)[N], Args&&... args) {
  static_assert(sizeof(T) <= N, "the stand-in's members fit the reserve");
  static_assert(alignof(T) <= 8, "the reserve is 8-byte aligned");
  ::new (static_cast<void*>(reserve)) T(std::forward<Args>(args)...);
}
template <typename T, std::size_t N>
T& StoredIn(unsigned char (&reserve)[N]) {
  return *std::launder(reinterpret_cast<T*>(reserve));  // NOLINT: built there by ConstructIn
}
template <typename T, std::size_t N>
void DestroyIn(unsigned char (&reserve)[N]) {
  std::destroy_at(&StoredIn<T>(reserve));
}

// Fills all `capacity` bytes of `pszBuffer` with text and no NUL.
void FillUnterminated(char* pszBuffer, std::size_t capacity);

}  // namespace detail
}  // namespace RkLocalPlatform
