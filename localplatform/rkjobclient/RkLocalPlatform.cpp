#include "RkLocalPlatform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "PrintableText.h"
#include "PrivateDirectory.h"
#include "RkLocalState.h"

namespace RkLocalPlatform {

using detail::Settings;
using detail::State;
using detail::WithState;

namespace {

template <typename T>
std::vector<T> Copy(const std::deque<T>& calls) {
  return std::vector<T>(calls.begin(), calls.end());
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

// A text from outside, quoted and with its control characters escaped.
std::string Quoted(std::string_view text) { return '"' + FXPrintableText(std::string(text)) + '"'; }

// Why another user could put a root of their own in the place of the
// default root `strRoot`, between its check and its use, through its parent
// folder: the folder is writable by group or others and not sticky, or it
// belongs to neither this user nor root. An empty text when no one can.
std::string WhyParentIsRefused(const std::string& strRoot) {
  const std::size_t nSlash = strRoot.rfind('/');
  const std::string strParent =
      nSlash == 0 || nSlash == std::string::npos ? std::string("/") : strRoot.substr(0, nSlash);
  const std::string strNamed = "its parent folder " + FXPrintableText(strParent);
  struct stat info {};
  if (stat(strParent.c_str(), &info) != 0) {
    return "cannot examine " + strNamed + ": " + std::strerror(errno);
  }
  if (info.st_uid != geteuid() && info.st_uid != 0) {
    return strNamed + " is owned by uid " + std::to_string(info.st_uid) +
           ", neither this user (uid " + std::to_string(geteuid()) + ") nor root";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
    return strNamed + " is writable by group or others and not sticky (mode " + FXOctalMode(info) +
           ")";
  }
  return std::string();
}

// Makes the default root, private to the user, when it is absent; then why
// it cannot be used, or an empty text. Nothing is made in a parent folder
// that is refused, and whatever stands at the root's name is never
// followed, repaired or removed.
std::string WhyRootIsRefused(const std::string& strRoot) {
  std::string strWhy = WhyParentIsRefused(strRoot);
  if (!strWhy.empty()) return strWhy;
  if (mkdir(strRoot.c_str(), 0700) != 0 && errno != EEXIST) {
    return std::string("cannot create it: ") + std::strerror(errno);
  }
  struct stat info {};
  if (lstat(strRoot.c_str(), &info) != 0) {
    return std::string("cannot examine it: ") + std::strerror(errno);
  }
  return FXWhyNotPrivateDirectory(info);
}

// `text` as a T written in decimal, with nothing before or after it.
template <typename T>
std::optional<T> DecimalNumber(std::string_view text) {
  T value{};
  const char* const pszEnd = text.data() + text.size();
  const auto [pszStop, error] = std::from_chars(text.data(), pszEnd, value);
  if (error != std::errc() || pszStop != pszEnd) return std::nullopt;
  return value;
}

// Items that take no value, items whose value is a last-error code and
// items whose value is a platform result, with the setting each arms.
constexpr std::pair<std::string_view, bool Settings::*> kFlagItems[] = {
    {"invalid", &Settings::platformInvalid},
    {NamesOf(Call::GetClient).faultName, &Settings::getClientFails},
    {"unterminated", &Settings::unterminatedDirectories},
    {"scribble", &Settings::scribbleOnScratchBuffers},
};
constexpr std::pair<std::string_view, std::optional<unsigned long> Settings::*> kCodeItems[] = {
    {NamesOf(Call::GetZentServerHostName).faultName, &Settings::zentServerHostNameFailure},
    {NamesOf(Call::GetJobResultsDirectory).faultName, &Settings::jobResultsDirectoryFailure},
};
constexpr std::pair<std::string_view, int Settings::*> kResultItems[] = {
    {NamesOf(Call::GetApplicationId).faultName, &Settings::getApplicationIdResult},
    {NamesOf(Call::GetName).faultName, &Settings::getNameResult},
    {NamesOf(Call::GetSubclientDir).faultName, &Settings::subclientDirResult},
};
// Items whose value is a text that a call answers with, and how each arms it.
constexpr std::pair<std::string_view, void (*)(Settings&, std::string_view)> kTextItems[] = {
    {"sethostname", [](Settings& s, std::string_view text) { s.zentServerHostName = text; }},
    {"setresultsdir",
     [](Settings& s, std::string_view text) { s.jobResultsDirectory.emplace(text); }},
};
template <typename Member, std::size_t N>
const Member* Find(const std::pair<std::string_view, Member> (&table)[N], std::string_view name) {
  for (const auto& [itemName, member] : table) {
    if (itemName == name) return &member;
  }
  return nullptr;
}

// Arms one item of a fault list on `settings`; why it is malformed when it
// is, else an empty text.
std::string ArmFault(std::string_view item, Settings& settings) {
  const std::size_t nEquals = item.find('=');
  const std::string_view name = item.substr(0, nEquals);
  const bool bHasValue = nEquals != std::string_view::npos;
  const std::string_view value = bHasValue ? item.substr(nEquals + 1) : std::string_view();

  if (const auto* flag = Find(kFlagItems, name)) {
    if (bHasValue) return Quoted(item) + ": " + std::string(name) + " takes no value";
    settings.*(*flag) = true;
    return {};
  }
  if (const auto* code = Find(kCodeItems, name)) {
    const std::optional<unsigned long> number = DecimalNumber<unsigned long>(value);
    if (!bHasValue || !number) return Quoted(item) + ": CODE must be an unsigned decimal number";
    settings.*(*code) = *number;
    return {};
  }
  if (const auto* result = Find(kResultItems, name)) {
    const std::optional<int> number = DecimalNumber<int>(value);
    if (!bHasValue || !number || *number == 0) {
      return Quoted(item) + ": RESULT must be a decimal number other than 0";
    }
    settings.*(*result) = *number;
    return {};
  }
  if (name == NamesOf(Call::Init).faultName) {
    const std::size_t nColon = value.find(':');
    const std::optional<int> number = DecimalNumber<int>(value.substr(0, nColon));
    if (!bHasValue || !number) return Quoted(item) + ": CODE must be a decimal number";
    settings.initFailure =
        detail::InitFailure{*number, nColon == std::string_view::npos
                                         ? std::nullopt
                                         : std::optional<std::string>(value.substr(nColon + 1))};
    return {};
  }
  if (const auto* text = Find(kTextItems, name)) {
    if (!bHasValue) return Quoted(item) + ": " + std::string(name) + " takes a value, maybe empty";
    (*text)(settings, value);
    return {};
  }
  if (name == "throw" || name == "hold" || name == "term") {
    const auto named = std::find_if(std::begin(kCalls), std::end(kCalls),
                                    [value](const CallNames& c) { return value == c.faultName; });
    if (!bHasValue || named == std::end(kCalls)) {
      std::string strWhy = Quoted(item) + ": NAME must be one of ";
      for (const CallNames& c : kCalls) {
        if (&c != &kCalls[0]) strWhy += ", ";
        strWhy += c.faultName;
      }
      return strWhy;
    }
    const Call* call = &named->call;
    if (name == "throw") {
      settings.throwingCalls.insert(*call);
    } else if (name == "hold") {
      settings.heldCalls[*call] = nullptr;
    } else {
      settings.terminatingCalls.insert(*call);
    }
    return {};
  }
  return Quoted(item) + ": not a fault of the local platform";
}

// Nothing is run at exit: the first call may come from inside a caller's
// lock or from a static destructor. Only the stdio buffers are flushed.
[[noreturn]] void StopForMalformedFaults(const char* pszList, const std::string& strWhy) {
  std::fprintf(stderr, "local platform: malformed %s=%s: %s\n", kFaultsVariable,
               Quoted(pszList).c_str(), strWhy.c_str());
  std::fflush(nullptr);
  std::_Exit(kMalformedFaultsStatus);
}

State StateFromEnvironment() {
  const char* pszList = std::getenv(kFaultsVariable);
  std::variant<Settings, std::string> parsed =
      detail::ParseFaults(pszList != nullptr ? pszList : "");
  if (const auto* pstrWhy = std::get_if<std::string>(&parsed)) {
    StopForMalformedFaults(pszList, *pstrWhy);
  }
  return State{std::get<Settings>(std::move(parsed)), {}};
}

}  // namespace

namespace detail {

std::mutex& StateMutex() {
  static NoDestructor<std::mutex> mutex;
  return mutex.get();
}

State& UnlockedState() {
  static NoDestructor<State> state(StateFromEnvironment());
  return state.get();
}

std::variant<Settings, std::string> ParseFaults(std::string_view list) {
  Settings settings;
  if (list.empty()) return settings;
  std::size_t nItem = 1;
  for (std::size_t nStart = 0;; ++nItem) {
    const std::size_t nComma = list.find(',', nStart);
    const std::string_view item = list.substr(nStart, nComma - nStart);
    std::string strWhy =
        item.empty() ? "item " + std::to_string(nItem) + " is empty" : ArmFault(item, settings);
    if (!strWhy.empty()) return strWhy;
    if (nComma == std::string_view::npos) return settings;
    nStart = nComma + 1;
  }
}

bool CopyOut(const std::string& text, char* pszBuffer, std::size_t capacity) {
  if (pszBuffer == nullptr || text.size() >= capacity) return false;
  std::memcpy(pszBuffer, text.c_str(), text.size() + 1);
  return true;
}

bool AppendRoot(std::string& out) {
  if (AppendDirectoryFromEnvironment(kRootVariable, out)) return false;
  if (AppendDirectoryFromEnvironment("XDG_RUNTIME_DIR", out)) {
    if (out.back() != '/') out += '/';
    out += "rk-local-platform";
    return true;
  }
  if (!AppendDirectoryFromEnvironment("TMPDIR", out)) out += "/tmp";
  if (out.back() != '/') out += '/';
  out += "rk-local-platform-" + std::to_string(geteuid());
  return true;
}

bool AppendUsableRoot(std::string& out) {
  const std::size_t nStart = out.size();
  if (!AppendRoot(out)) return true;  // named by the user: used as given
  // Checked once a thread; the user's own directory cannot be swapped by
  // anyone else afterwards.
  thread_local std::string checked;
  const std::string_view root = std::string_view(out).substr(nStart);
  if (root == checked) return true;
  const std::string strRoot(root);
  const std::string strWhy = WhyRootIsRefused(strRoot);
  if (!strWhy.empty()) {
    std::fprintf(stderr, "local platform: refusing the root %s: %s\n",
                 FXPrintableText(strRoot).c_str(), strWhy.c_str());
    out.resize(nStart);
    return false;
  }
  checked = strRoot;
  return true;
}

void FillUnterminated(char* pszBuffer, std::size_t capacity) {
  if (pszBuffer != nullptr) std::memset(pszBuffer, '#', capacity);
}

}  // namespace detail

void Reset() {
  // The callback may own test objects; it is destroyed outside the lock.
  Settings previous;
  WithState([&previous](State& s) { std::swap(previous, s.settings); });
}

std::string Root() {
  WithState([](State&) {});  // a malformed fault list stops even this first call
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

void HoldUntilSignalled(Call call, std::function<void()> onHold) {
  WithState([&](State& s) { std::swap(s.settings.heldCalls[call], onHold); });
  // A callback it replaced dies here, outside the lock.
}

void TerminateAfter(Call call) {
  WithState([call](State& s) { s.settings.terminatingCalls.insert(call); });
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

void SetJobResultsDirectory(const std::string& dir) {
  WithState([&dir](State& s) { s.settings.jobResultsDirectory = dir; });
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
