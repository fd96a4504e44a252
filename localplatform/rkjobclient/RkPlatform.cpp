#include "RkPlatform.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "RkLocalPlatform.h"
#include "RkLocalState.h"
#include "RkPlatformCall.h"

using RkLocalPlatform::Call;
using RkLocalPlatform::kCancelledResult;
using RkLocalPlatform::detail::PlatformCall;
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
  std::optional<std::string> dir;  // none: the one built on the root
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

  int getName(std::string& name, int nFlags) override {
    PlatformCall call(Call::GetName);
    call.ArgNumber("flags", nFlags);
    int nResult = kCancelledResult;
    if (!call.Begin()) {
      nResult = WithState([](State& s) { return s.settings.getNameResult; });
    }
    if (nResult == 0) {
      name = m_strName;
      call.OutText("name", name.c_str(), name.size() + 1);
    }
    return call.Returned(nResult, nResult != 0);
  }

 private:
  std::string m_strName;
};

// The central server's host name, kept in `members`; null with the reason in
// `ulLastError` when the platform object is invalid or told to fail.
const char* HostName(PlatformMembers& members, unsigned long& ulLastError) {
  if (members.bInvalid) {
    ulLastError = detail::kResultInvalidParameter;
    return nullptr;
  }
  auto [failure, name] = WithState([](State& s) {
    return std::make_pair(s.settings.zentServerHostNameFailure, s.settings.zentServerHostName);
  });
  if (failure) {
    ulLastError = *failure;
    return nullptr;
  }
  members.strHostName = std::move(name);
  return members.strHostName.c_str();
}

// getJobResultsDirectory as the controls tell it to behave: non-zero on
// success, else 0 with the reason in `ulLastError`.
int LookUpJobResultsDirectory(const DirectoryOrders& told, const char* pszClient, char* pszDir,
                              char* pszAux1, char* pszAux2, std::size_t capacity, bool bInvalid,
                              unsigned long& ulLastError) {
  if (told.scribble) {
    detail::FillUnterminated(pszAux1, capacity);
    detail::FillUnterminated(pszAux2, capacity);
  }
  if (bInvalid) {
    ulLastError = detail::kResultInvalidParameter;
    return 0;
  }
  if (told.failure) {
    ulLastError = *told.failure;
    return 0;
  }
  if (told.unterminated && pszDir != nullptr) {
    detail::FillUnterminated(pszDir, capacity);
    ulLastError = 0;
    return 1;
  }
  if (!IsUsableClientName(pszClient) || pszDir == nullptr) {
    ulLastError = detail::kResultInvalidParameter;
    return 0;
  }
  const std::string* dir = told.dir ? &*told.dir : JobResultsDirectoryOf(pszClient);
  if (dir == nullptr) {
    ulLastError = detail::kResultAccessDenied;
    return 0;
  }
  if (!detail::CopyOut(*dir, pszDir, capacity)) {
    ulLastError = detail::kResultInsufficientBuffer;
    return 0;
  }
  ulLastError = 0;
  return 1;
}

}  // namespace

RKPI_PlatformBase::RKPI_PlatformBase() : m_ulLastError(0) {
  detail::ConstructIn<PlatformMembers>(
      m_reserved, WithState([](State& s) { return s.settings.platformInvalid; }));
}

RKPI_PlatformBase::~RKPI_PlatformBase() { detail::DestroyIn<PlatformMembers>(m_reserved); }

bool RKPI_PlatformBase::invalidRKPlatform() {
  PlatformCall call("invalidRKPlatform");
  const bool bInvalid = detail::StoredIn<PlatformMembers>(m_reserved).bInvalid;
  return call.Returned(bInvalid, bInvalid);
}

const char* RKPI_PlatformBase::getZentServerHostName() {
  PlatformCall call(Call::GetZentServerHostName);
  const char* pszName = nullptr;
  if (call.Begin()) {
    m_ulLastError = kCancelledResult;
  } else {
    pszName = HostName(detail::StoredIn<PlatformMembers>(m_reserved), m_ulLastError);
  }
  call.LastError(m_ulLastError);
  return call.Returned(pszName, pszName == nullptr);
}

RKPI_ZentClient::RKPI_ZentClient() = default;

RKPI_ZentClient::~RKPI_ZentClient() = default;

int RKPI_ZentClient::getJobResultsDirectory(const char* pszClient, char* pszDir, char* pszAux1,
                                            char* pszAux2, unsigned long ulCapacity) {
  PlatformCall call(Call::GetJobResultsDirectory);
  call.ArgText("client", pszClient).ArgNumber("capacity", ulCapacity);
  RkLocalPlatform::JobResultsDirectoryArgs args{detail::Received(pszClient), ulCapacity};
  DirectoryOrders told = WithState([&args](State& s) {
    detail::Record(s.settings.jobResultsDirectoryCalls, std::move(args));
    return DirectoryOrders{s.settings.jobResultsDirectoryFailure,
                           s.settings.unterminatedDirectories, s.settings.scribbleOnScratchBuffers,
                           s.settings.jobResultsDirectory};
  });
  // Whatever the caller's capacity, no text of ours is longer than this.
  const std::size_t capacity = std::min<std::size_t>(ulCapacity, detail::kJobResultsDirCapacity);
  int nResult = 0;
  if (call.Begin()) {
    m_ulLastError = kCancelledResult;
  } else {
    nResult = LookUpJobResultsDirectory(told, pszClient, pszDir, pszAux1, pszAux2, capacity,
                                        detail::StoredIn<PlatformMembers>(m_reserved).bInvalid,
                                        m_ulLastError);
  }
  if (nResult != 0) call.OutText("dir", pszDir, capacity);
  call.LastError(m_ulLastError);
  return call.Returned(nResult, nResult == 0);
}

void RKPI_Focus::setFocusClientName(const char* pszName) {
  PlatformCall call("setFocusClientName");
  call.ArgText("name", pszName);
  WithState([pszName](State& s) {
    s.settings.focusClient = pszName ? s.names.insert(pszName).first->c_str() : nullptr;
  });
  call.ReturnedNothing();
}

const char* RKPI_Focus::getFocusClientName(bool bUseDefault) {
  PlatformCall call("getFocusClientName");
  call.ArgFlag("useDefault", bUseDefault);
  const char* pszFocus = WithState([](State& s) { return s.settings.focusClient; });
  if (pszFocus == nullptr && bUseDefault) pszFocus = detail::kLocalClientName;
  return call.Returned(pszFocus, false);
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

// GetSubclientDir as the controls tell it to behave: 0 on success.
int LookUpSubclientDir(unsigned int nFirst, unsigned int nSecond, char* pszDir,
                       SubclientOrders told) {
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

}  // namespace

ApplicationId::ApplicationId(const std::string& strApplicationId) {
  detail::ConstructIn<ApplicationIdMembers>(m_reserved, strApplicationId);
}

ApplicationId::~ApplicationId() { detail::DestroyIn<ApplicationIdMembers>(m_reserved); }

int ApplicationId::getApplicationId(void* /*pContext*/) {
  PlatformCall call(Call::GetApplicationId);
  int nResult = kCancelledResult;
  if (!call.Begin()) {
    nResult = WithState([](State& s) { return s.settings.getApplicationIdResult; });
    if (nResult == 0 && !detail::StoredIn<ApplicationIdMembers>(m_reserved).Client()) {
      nResult = detail::kResultNotFound;
    }
  }
  return call.Returned(nResult, nResult != 0);
}

RKPI_Client* ApplicationId::getClient(void* /*pContext*/) {
  PlatformCall call(Call::GetClient);
  RKPI_Client* pClient = nullptr;
  if (!call.Begin() && !WithState([](State& s) { return s.settings.getClientFails; })) {
    pClient = detail::StoredIn<ApplicationIdMembers>(m_reserved).Client();
  }
  return call.Returned(pClient, pClient == nullptr);
}

int GetSubclientDir(unsigned int nFirst, unsigned int nSecond, char* pszDir) {
  PlatformCall call(Call::GetSubclientDir);
  call.ArgNumber("first", nFirst).ArgNumber("second", nSecond);
  SubclientOrders told = WithState([nFirst, nSecond](State& s) {
    detail::Record(s.settings.subclientDirCalls,
                   RkLocalPlatform::SubclientDirArgs{nFirst, nSecond});
    return SubclientOrders{s.settings.subclientDirResult, s.settings.unterminatedDirectories,
                           s.settings.subclientDir};
  });
  const int nResult = call.Begin() ? kCancelledResult
                                   : LookUpSubclientDir(nFirst, nSecond, pszDir, std::move(told));
  if (nResult == 0) call.OutText("dir", pszDir, detail::kSubclientDirCapacity);
  return call.Returned(nResult, nResult != 0);
}
