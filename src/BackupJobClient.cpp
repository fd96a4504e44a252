#include "BackupJobClient.h"

#include <cstdio>
#include <new>
#include <string>

#include <boost/make_shared.hpp>

#include "FXString.h"
#include "LogWriter.h"
#include "fx/auto_lock.h"
#include "rkcast.h"
#include "shared/PrintableTextRule.h"

CBackupJobClientPtr CBackupJobClient::m_sharedInstance;

namespace {

// The exported lock's storage, which nothing destroys: threads of the agent
// may still take the lock while the process exits, after every static
// object is gone.
// Referred to only by its assembler name, through the alias below: kept
// ("used") though no C++ code names it.
alignas(FXMutex) __attribute__((used)) unsigned char g_lockStorage[sizeof(FXMutex)] __asm__(
    "umx_shared_instance_lock_storage");

}  // namespace

extern FXMutex sharedInstanceLock __attribute__((alias("umx_shared_instance_lock_storage")));

namespace {

// Builds the lock when the library is loaded. It is built through its
// exported name: a program that refers to the lock directly gets its own
// copy of the storage, and the name then denotes that copy, for the library
// too.
struct LockConstruction {
  LockConstruction() { ::new (static_cast<void*>(&sharedInstanceLock)) FXMutex(); }
};
LockConstruction g_lockConstruction;

// Set under the lock once the process has begun to exit: no client is made
// after the library let its own go.
bool g_bExiting UMX_GUARDED_BY(sharedInstanceLock) = false;

// Defined after the handle, so destroyed before it: at exit it takes the
// library's reference to the client out of the handle under the lock and
// releases it after the lock. The handle's own destructor then finds it
// empty and touches nothing that other threads may still read.
class ExitRelease {
 public:
  ExitRelease() = default;
  ExitRelease(const ExitRelease&) = delete;
  ExitRelease& operator=(const ExitRelease&) = delete;
  ~ExitRelease() {
    CBackupJobClientPtr pReleased;  // destroyed after the lock is let go
    auto_lock lock(&sharedInstanceLock);
    g_bExiting = true;
    pReleased.swap(CBackupJobClient::m_sharedInstance);
  }
};
ExitRelease g_exitRelease;

constexpr const char kCalledTwice[] = "CBackupJobClient::createInstance is called twice";
constexpr const char kNotCreated[] = "CBackupJobClient::createInstance must be called first";
constexpr const char kInitFailedFormat[] = "Failed to initialize CBackupJobClient object: %d:%s";

// Uninstalls the client on every way out of its scope but a committed one,
// so that no one is handed a client whose initialisation did not finish.
class InstallRollback {
 public:
  explicit InstallRollback(CBackupJobClientPtr& handle) : m_handle(handle) {}
  ~InstallRollback() {
    if (!m_bCommitted) m_handle.reset();
  }

  InstallRollback(const InstallRollback&) = delete;
  InstallRollback& operator=(const InstallRollback&) = delete;

  void Commit() { m_bCommitted = true; }

 private:
  CBackupJobClientPtr& m_handle;
  bool m_bCommitted = false;
};

}  // namespace

CBackupJobClient::CBackupJobClient() = default;

CBackupJobClient::~CBackupJobClient() = default;

CBackupJobClientPtr CBackupJobClient::createInstance(const char* pszPlatformArg1, RKJobID nJobId,
                                                     int nPlatformArg3, RKS_PLATFORMTYPE ePlatform,
                                                     bool bPlatformArg5,
                                                     const char* pszPlatformArg6) {
  auto_lock lock(&sharedInstanceLock);
  // Misuse is reported by throwing a pointer to the constant text.
  // NOLINTNEXTLINE(misc-throw-by-value-catch-by-reference)
  if (m_sharedInstance) throw kCalledTwice;
  // Past the library's release at exit a client would never be released.
  // NOLINTNEXTLINE(misc-throw-by-value-catch-by-reference)
  if (g_bExiting) throw kNotCreated;

  m_sharedInstance = boost::make_shared<CBackupJobClient>();
  InstallRollback rollback(m_sharedInstance);
  if (m_sharedInstance->init(pszPlatformArg1, nJobId, nPlatformArg3, ePlatform, bPlatformArg5,
                             pszPlatformArg6)) {
    rollback.Commit();
    return m_sharedInstance;
  }

  // The code is read before the text.
  const int nError = m_sharedInstance->getLastError();
  const char* const pszError = m_sharedInstance->getLastErrorStr();
  const boost::shared_ptr<CLogWriterInterface> pLogWriter = g_ptrLogWriter;
  if (pLogWriter) {
    pLogWriter->WriteLog(-1, __PRETTY_FUNCTION__, __LINE__, 0, 0, kInitFailedFormat,
                         rkcast::d(nError), rkcast::s(pszError));
  } else {
    // Without a sink the person who ran the agent still learns why, on one
    // line that sends no escape sequence, as the trace lines.
    const std::string strMessage =
        FXString::Format(kInitFailedFormat, rkcast::d(nError), rkcast::s(pszError));
    std::fprintf(stderr, "%s\n", FXPrintableText(strMessage).c_str());
  }
  return CBackupJobClientPtr();
}

CBackupJobClientPtr CBackupJobClient::instance() {
  auto_lock lock(&sharedInstanceLock);
  // NOLINTNEXTLINE(misc-throw-by-value-catch-by-reference)
  if (!m_sharedInstance) throw kNotCreated;
  return m_sharedInstance;
}
