#include "RkLocalPlatform.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "RkLocalState.h"

namespace RkLocalPlatform {

namespace {

template <typename T>
std::vector<T> Copy(const std::deque<T>& calls) {
  return std::vector<T>(calls.begin(), calls.end());
}

// Constructed on first use and never destroyed, so that the platform stays
// usable from other objects' destructors at exit.
template <typename T>
class NoDestructor {
 public:
  NoDestructor() { new (storage_) T(); }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

const char* CallName(Call call) {
  switch (call) {
    case Call::Init:
      return "init";
    case Call::GetZentServerHostName:
      return "getZentServerHostName";
    case Call::GetJobResultsDirectory:
      return "getJobResultsDirectory";
    case Call::GetApplicationId:
      return "getApplicationId";
    case Call::GetClient:
      return "getClient";
    case Call::GetName:
      return "getName";
    case Call::GetSubclientDir:
      return "GetSubclientDir";
  }
  return "unknown call";
}

// Appends the value of `pszVariable` without its trailing slashes ("/"
// stays); false, with nothing appended, when it is unset or empty.
bool AppendDirectoryFromEnvironment(const char* pszVariable, std::string& out) {
  const char* pszValue = std::getenv(pszVariable);
  if (pszValue == nullptr || *pszValue == '\0') return false;
  std::size_t nLength = std::strlen(pszValue);
  while (nLength > 1 && pszValue[nLength - 1] == '/')
    --nLength;
  out.append(pszValue, nLength);
  return true;
}

}  // namespace

namespace detail {

std::mutex& StateMutex() {
  static NoDestructor<std::mutex> mutex;
  return mutex.get();
}

State& UnlockedState() {
  static NoDestructor<State> state;
  return state.get();
}

void ThrowIfTold(Call call) {
  bool bThrow = WithState([call](State& s) { return s.settings.throwingCalls.count(call) != 0; });
  if (bThrow)
    throw std::runtime_error(std::string("local platform: ") + CallName(call) + " failed");
}

bool CopyOut(const std::string& text, char* pszBuffer, std::size_t capacity) {
  if (pszBuffer == nullptr || text.size() >= capacity) return false;
  std::memcpy(pszBuffer, text.c_str(), text.size() + 1);
  return true;
}

void AppendRoot(std::string& out) {
  if (AppendDirectoryFromEnvironment(kRootVariable, out)) return;
  if (!AppendDirectoryFromEnvironment("TMPDIR", out)) out += "/tmp";
  if (out.back() != '/') out += '/';
  out += "rk-local-platform";
}

void FillUnterminated(char* pszBuffer, std::size_t capacity) {
  if (pszBuffer != nullptr) std::memset(pszBuffer, '#', capacity);
}

}  // namespace detail

using detail::Settings;
using detail::State;
using detail::WithState;

void Reset() {
  // The callback may own test objects; it is destroyed outside the lock.
  Settings previous;
  WithState([&previous](State& s) { std::swap(previous, s.settings); });
}

std::string Root() {
  std::string root;
  detail::AppendRoot(root);
  return root;
}

void SetZentServerHostName(const std::string& name) {
  WithState([&name](State& s) { s.settings.zentServerHostName = name; });
}

void RegisterApplication(const std::string& applicationId, const std::string& client) {
  WithState([&](State& s) { s.settings.applications[applicationId] = client; });
}

void FailInit(int code, const char* text) {
  detail::InitFailure failure{code, detail::OptionalText(text)};
  WithState([&failure](State& s) { s.settings.initFailure = std::move(failure); });
}

void SetInitCallback(std::function<void()> callback) {
  WithState([&callback](State& s) { std::swap(s.settings.initCallback, callback); });
  // The replaced callback dies here, outside the lock.
}

void ThrowFrom(Call call) {
  WithState([call](State& s) { s.settings.throwingCalls.insert(call); });
}

void SetPlatformInvalid(bool invalid) {
  WithState([invalid](State& s) { s.settings.platformInvalid = invalid; });
}

void FailZentServerHostName(unsigned long code) {
  WithState([code](State& s) { s.settings.zentServerHostNameFailure = code; });
}

void FailJobResultsDirectory(unsigned long code) {
  WithState([code](State& s) { s.settings.jobResultsDirectoryFailure = code; });
}

void ScribbleOnScratchBuffers(bool scribble) {
  WithState([scribble](State& s) { s.settings.scribbleOnScratchBuffers = scribble; });
}

void WriteUnterminatedDirectories(bool unterminated) {
  WithState([unterminated](State& s) { s.settings.unterminatedDirectories = unterminated; });
}

void FailGetApplicationId(int result) {
  WithState([result](State& s) { s.settings.getApplicationIdResult = result; });
}

void FailGetClient() {
  WithState([](State& s) { s.settings.getClientFails = true; });
}

void FailGetName(int result) {
  WithState([result](State& s) { s.settings.getNameResult = result; });
}

void FailSubclientDir(int result) {
  WithState([result](State& s) { s.settings.subclientDirResult = result; });
}

void SetSubclientDir(const std::string& dir) {
  WithState([&dir](State& s) { s.settings.subclientDir = dir; });
}

std::vector<InitArgs> InitCalls() {
  return WithState([](State& s) { return Copy(s.settings.initCalls); });
}

std::vector<JobResultsDirectoryArgs> JobResultsDirectoryCalls() {
  return WithState([](State& s) { return Copy(s.settings.jobResultsDirectoryCalls); });
}

std::vector<SubclientDirArgs> SubclientDirCalls() {
  return WithState([](State& s) { return Copy(s.settings.subclientDirCalls); });
}

}  // namespace RkLocalPlatform
