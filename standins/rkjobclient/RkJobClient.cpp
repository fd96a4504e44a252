#include "RkJobClient.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "RkLocalPlatform.h"
#include "RkLocalState.h"

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
  return RkLocalPlatform::detail::StoredIn<JobClientMembers>(m_reserved).nLastError;
}

const char* RKJobClient::getLastErrorStr() {
  const auto& text = RkLocalPlatform::detail::StoredIn<JobClientMembers>(m_reserved).lastErrorText;
  return text ? text->c_str() : nullptr;
}

RKBkpJobClient::RKBkpJobClient() = default;

RKBkpJobClient::~RKBkpJobClient() = default;

bool RKBkpJobClient::init(const char* pszArg1, RKJobID nJobId, int nArg3,
                          RKS_PLATFORMTYPE ePlatform, bool bArg5, const char* pszArg6) {
  using namespace RkLocalPlatform;
  using detail::State;
  using detail::WithState;

  InitArgs args{detail::Received(pszArg1), nJobId, nArg3, ePlatform, bArg5,
                detail::Received(pszArg6)};
  std::function<void()> callback = WithState([&args](State& s) {
    detail::Record(s.settings.initCalls, std::move(args));
    return s.settings.initCallback;
  });
  // Unlocked, so that the callback may use the platform again.
  if (callback) callback();

  detail::ThrowIfTold(Call::Init);
  std::optional<detail::InitFailure> failure =
      WithState([](State& s) { return s.settings.initFailure; });
  auto& members = detail::StoredIn<JobClientMembers>(m_reserved);
  if (failure) {
    members.nLastError = failure->code;
    members.lastErrorText = std::move(failure->text);
    return false;
  }
  members.nLastError = 0;
  members.lastErrorText = std::string();
  return true;
}
