#include "RkJobClient.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "RkLocalPlatform.h"
#include "RkLocalState.h"

class RKJobClientState {
 public:
  int nLastError = 0;
  std::optional<std::string> lastErrorText = std::string();
};

RKJobClient::RKJobClient() : m_pState(std::make_unique<RKJobClientState>()) {}

RKJobClient::~RKJobClient() = default;

int RKJobClient::getLastError() const { return m_pState->nLastError; }

const char* RKJobClient::getLastErrorStr() const {
  return m_pState->lastErrorText ? m_pState->lastErrorText->c_str() : nullptr;
}

RKBkpJobClient::RKBkpJobClient() = default;

RKBkpJobClient::~RKBkpJobClient() = default;

bool RKBkpJobClient::init(const char* pszArg1, RKJobID nJobId, int nArg3,
                          RKS_PLATFORMTYPE ePlatform, bool bArg5, const char* pszArg6) {
  using namespace RkLocalPlatform;
  using detail::State;
  using detail::WithState;

  InitArgs args{detail::OptionalText(pszArg1), nJobId, nArg3, ePlatform, bArg5,
                detail::OptionalText(pszArg6)};
  std::function<void()> callback = WithState([&args](State& s) {
    detail::Record(s.settings.initCalls, std::move(args));
    return s.settings.initCallback;
  });
  // Unlocked, so that the callback may use the platform again.
  if (callback) callback();

  detail::ThrowIfTold(Call::Init);
  std::optional<detail::InitFailure> failure =
      WithState([](State& s) { return s.settings.initFailure; });
  if (failure) {
    m_pState->nLastError = failure->code;
    m_pState->lastErrorText = std::move(failure->text);
    return false;
  }
  m_pState->nLastError = 0;
  m_pState->lastErrorText = std::string();
  return true;
}
