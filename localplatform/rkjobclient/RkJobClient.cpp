#include "RkJobClient.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "RkLocalPlatform.h"
#include "RkLocalState.h"
#include "RkPlatformCall.h"

namespace {

// What a job client of the stand-in holds, kept in RKJobClient's reserve.
struct JobClientMembers {
  int nLastError = 0;
  std::optional<std::string> lastErrorText = std::string();
};

}  // namespace

RKJobClient::RKJobClient() { RkLocalPlatform::detail::ConstructIn<JobClientMembers>(m_reserved); }

RKJobClient::~RKJobClient() { RkLocalPlatform::detail::DestroyIn<JobClientMembers>(m_reserved); }

int RKJobClient::getLastError() {
  RkLocalPlatform::detail::PlatformCall call("getLastError");
  return call.Returned(RkLocalPlatform::detail::StoredIn<JobClientMembers>(m_reserved).nLastError,
                       false);
}

const char* RKJobClient::getLastErrorStr() {
  RkLocalPlatform::detail::PlatformCall call("getLastErrorStr");
  const auto& text = RkLocalPlatform::detail::StoredIn<JobClientMembers>(m_reserved).lastErrorText;
  return call.Returned(text ? text->c_str() : nullptr, false);
}

RKBkpJobClient::RKBkpJobClient() = default;

RKBkpJobClient::~RKBkpJobClient() = default;

bool RKBkpJobClient::init(const char* pszArg1, RKJobID nJobId, int nArg3,
                          RKS_PLATFORMTYPE ePlatform, bool bArg5, const char* pszArg6) {
  using namespace RkLocalPlatform;
  using detail::State;
  using detail::WithState;

  detail::PlatformCall call(Call::Init);
  call.ArgText("arg1", pszArg1).ArgNumber("jobId", nJobId).ArgNumber("arg3", nArg3);
  call.ArgNumber("platform", static_cast<int>(ePlatform)).ArgFlag("arg5", bArg5);
  call.ArgText("arg6", pszArg6);
  InitArgs args{detail::Received(pszArg1), nJobId, nArg3, ePlatform, bArg5,
                detail::Received(pszArg6)};
  std::function<void()> callback = WithState([&args](State& s) {
    detail::Record(s.settings.initCalls, std::move(args));
    return s.settings.initCallback;
  });
  // Unlocked, so that the callback may use the platform again.
  if (callback) callback();

  std::optional<detail::InitFailure> failure;
  if (call.Begin()) {
    failure = detail::InitFailure{kCancelledResult, "local platform: init was held until a signal"};
  } else {
    failure = WithState([](State& s) { return s.settings.initFailure; });
  }
  auto& members = detail::StoredIn<JobClientMembers>(m_reserved);
  members.nLastError = failure ? failure->code : 0;
  members.lastErrorText = failure ? std::move(failure->text) : std::string();
  call.LastError(members.nLastError);
  call.LastErrorText(members.lastErrorText ? members.lastErrorText->c_str() : nullptr);
  return call.Returned(!failure, failure.has_value());
}
