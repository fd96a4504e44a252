#include "RkPlatform.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "RkLocalPlatform.h"
#include "RkLocalState.h"

using RkLocalPlatform::Call;
using RkLocalPlatform::detail::State;
using RkLocalPlatform::detail::WithState;
namespace detail = RkLocalPlatform::detail;

namespace {

// A client name that names exactly one directory under the clients root.
bool IsUsableClientName(const char* pszClient) {
  return pszClient != nullptr && *pszClient != '\0' && std::strcmp(pszClient, ".") != 0 &&
         std::strcmp(pszClient, "..") != 0 && std::strchr(pszClient, '/') == nullptr;
}

// Built in a per-thread string that is reused, so that a lookup allocates
// nothing once the thread has made one. Null when the root is refused.
const std::string* JobResultsDirectoryOf(const char* pszClient) {
  thread_local std::string dir;
  dir.clear();
  if (!detail::AppendUsableRoot(dir)) return nullptr;
  return &dir.append("/clients/").append(pszClient).append("/JobResults");
}
std::optional<std::string> SubclientDirectoryOf(unsigned int nFirst, unsigned int nSecond) {
  std::string dir;
  if (!detail::AppendUsableRoot(dir)) return std::nullopt;
  return dir + "/subclients/" + std::to_string(nFirst) + "/" + std::to_string(nSecond);
}

std::optional<std::string> ClientOfApplication(const std::string& applicationId) {
  return WithState([&applicationId](State& s) -> std::optional<std::string> {
    auto it = s.settings.applications.find(applicationId);
    if (it == s.settings.applications.end()) return std::nullopt;
    return it->second;
  });
}

// What the controls tell a directory lookup to do, read in one step.
struct DirectoryOrders {
  std::optional<unsigned long> failure;
  bool unterminated;
  bool scribble;
};

struct SubclientOrders {
  int nResult;
  bool unterminated;
  std::optional<std::string> dir;
};

// What a platform object of the stand-in holds, kept in RKPI_PlatformBase's
// reserve.
struct PlatformMembers {
  explicit PlatformMembers(bool invalid) : bInvalid(invalid) {}

  bool bInvalid;            // fixed when the object is made
  std::string strHostName;  // the text getZentServerHostName hands out
};

// A registered application's client; destroyed only as itself.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class LocalClient final : public RKPI_Client {
 public:
  explicit LocalClient(std::string name) : m_strName(std::move(name)) {}

  int getName(std::string& name, int /*nFlags*/) override {
    detail::ThrowIfTold(Call::GetName);
    int nResult = WithState([](State& s) { return s.settings.getNameResult; });
    if (nResult != 0) return nResult;
    name = m_strName;
    return 0;
  }

 private:
  std::string m_strName;
};

}  // namespace

RKPI_PlatformBase::RKPI_PlatformBase() : m_ulLastError(0) {
  detail::ConstructIn<PlatformMembers>(
      m_reserved, WithState([](State& s) { return s.settings.platformInvalid; }));
}

RKPI_PlatformBase::~RKPI_PlatformBase() { detail::DestroyIn<PlatformMembers>(m_reserved); }

bool RKPI_PlatformBase::invalidRKPlatform() {
  return detail::StoredIn<PlatformMembers>(m_reserved).bInvalid;
}

const char* RKPI_PlatformBase::getZentServerHostName() {
  detail::ThrowIfTold(Call::GetZentServerHostName);
  PlatformMembers& members = detail::StoredIn<PlatformMembers>(m_reserved);
  if (members.bInvalid) {
    m_ulLastError = detail::kResultInvalidParameter;
    return nullptr;
  }
  auto [failure, name] = WithState([](State& s) {
    return std::make_pair(s.settings.zentServerHostNameFailure, s.settings.zentServerHostName);
  });
  if (failure) {
    m_ulLastError = *failure;
    return nullptr;
  }
  members.strHostName = std::move(name);
  return members.strHostName.c_str();
}

RKPI_ZentClient::RKPI_ZentClient() = default;

RKPI_ZentClient::~RKPI_ZentClient() = default;

int RKPI_ZentClient::getJobResultsDirectory(const char* pszClient, char* pszDir, char* pszAux1,
                                            char* pszAux2, unsigned long ulCapacity) {
  RkLocalPlatform::JobResultsDirectoryArgs args{detail::Received(pszClient), ulCapacity};
  DirectoryOrders told = WithState([&args](State& s) {
    detail::Record(s.settings.jobResultsDirectoryCalls, std::move(args));
    return DirectoryOrders{s.settings.jobResultsDirectoryFailure,
                           s.settings.unterminatedDirectories, s.settings.scribbleOnScratchBuffers};
  });
  detail::ThrowIfTold(Call::GetJobResultsDirectory);

  // Whatever the caller's capacity, no text of ours is longer than this.
  const std::size_t capacity = std::min<std::size_t>(ulCapacity, detail::kJobResultsDirCapacity);
  if (told.scribble) {
    detail::FillUnterminated(pszAux1, capacity);
    detail::FillUnterminated(pszAux2, capacity);
  }
  if (detail::StoredIn<PlatformMembers>(m_reserved).bInvalid) {
    m_ulLastError = detail::kResultInvalidParameter;
    return 0;
  }
  if (told.failure) {
    m_ulLastError = *told.failure;
    return 0;
  }
  if (told.unterminated && pszDir != nullptr) {
    detail::FillUnterminated(pszDir, capacity);
    m_ulLastError = 0;
    return 1;
  }
  if (!IsUsableClientName(pszClient) || pszDir == nullptr) {
    m_ulLastError = detail::kResultInvalidParameter;
    return 0;
  }
  const std::string* dir = JobResultsDirectoryOf(pszClient);
  if (dir == nullptr) {
    m_ulLastError = detail::kResultAccessDenied;
    return 0;
  }
  if (!detail::CopyOut(*dir, pszDir, capacity)) {
    m_ulLastError = detail::kResultInsufficientBuffer;
    return 0;
  }
  m_ulLastError = 0;
  return 1;
}

void RKPI_Focus::setFocusClientName(const char* pszName) {
  WithState([pszName](State& s) {
    s.settings.focusClient = pszName ? s.names.insert(pszName).first->c_str() : nullptr;
  });
}

const char* RKPI_Focus::getFocusClientName(bool bUseDefault) {
  const char* pszFocus = WithState([](State& s) { return s.settings.focusClient; });
  if (pszFocus == nullptr && bUseDefault) return detail::kLocalClientName;
  return pszFocus;
}

namespace {

// What an ApplicationId of the stand-in holds, kept in its reserve.
class ApplicationIdMembers {
 public:
  explicit ApplicationIdMembers(std::string id) : m_strId(std::move(id)) {}

  // The application's client, looked up once; null when it is unknown.
  RKPI_Client* Client() {
    if (!m_client) {
      std::optional<std::string> name = ClientOfApplication(m_strId);
      if (name) m_client.emplace(std::move(*name));
    }
    return m_client ? &*m_client : nullptr;
  }

 private:
  std::string m_strId;
  std::optional<LocalClient> m_client;
};

}  // namespace

ApplicationId::ApplicationId(const std::string& strApplicationId) {
  detail::ConstructIn<ApplicationIdMembers>(m_reserved, strApplicationId);
}

ApplicationId::~ApplicationId() { detail::DestroyIn<ApplicationIdMembers>(m_reserved); }

int ApplicationId::getApplicationId(void* /*pContext*/) {
  detail::ThrowIfTold(Call::GetApplicationId);
  int nResult = WithState([](State& s) { return s.settings.getApplicationIdResult; });
  if (nResult != 0) return nResult;
  return detail::StoredIn<ApplicationIdMembers>(m_reserved).Client() ? 0 : detail::kResultNotFound;
}

RKPI_Client* ApplicationId::getClient(void* /*pContext*/) {
  detail::ThrowIfTold(Call::GetClient);
  if (WithState([](State& s) { return s.settings.getClientFails; })) return nullptr;
  return detail::StoredIn<ApplicationIdMembers>(m_reserved).Client();
}

int GetSubclientDir(unsigned int nFirst, unsigned int nSecond, char* pszDir) {
  SubclientOrders told = WithState([nFirst, nSecond](State& s) {
    detail::Record(s.settings.subclientDirCalls,
                   RkLocalPlatform::SubclientDirArgs{nFirst, nSecond});
    return SubclientOrders{s.settings.subclientDirResult, s.settings.unterminatedDirectories,
                           s.settings.subclientDir};
  });
  detail::ThrowIfTold(Call::GetSubclientDir);
  if (told.nResult != 0) return told.nResult;
  if (pszDir == nullptr) return detail::kResultInvalidParameter;
  if (told.unterminated) {
    detail::FillUnterminated(pszDir, detail::kSubclientDirCapacity);
    return 0;
  }
  if (!told.dir) told.dir = SubclientDirectoryOf(nFirst, nSecond);
  if (!told.dir) return detail::kResultAccessDenied;
  if (!detail::CopyOut(*told.dir, pszDir, detail::kSubclientDirCapacity)) {
    return detail::kResultInsufficientBuffer;
  }
  return 0;
}
