#include "BackupJobClient.h"

#include <cstdio>
#include <string>

#include <boost/make_shared.hpp>

#include "FXString.h"
#include "LogWriter.h"
#include "PrintableText.h"
#include "fx/auto_lock.h"
#include "rkcast.h"

// Built in this order and destroyed in reverse: at unload the lock goes
// first, then the library's reference to the client.
CBackupJobClientPtr CBackupJobClient::m_sharedInstance;
FXMutex sharedInstanceLock;

namespace {

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

CBackupJobClientPtr CBackupJobClient::createInstance(const char* pszArg1, RKJobID nJobId, int nArg3,
                                                     RKS_PLATFORMTYPE ePlatform, bool bArg5,
                                                     const char* pszArg6) {
  auto_lock lock(&sharedInstanceLock);
  // Misuse is reported by throwing a pointer to the constant text.
  // NOLINTNEXTLINE(misc-throw-by-value-catch-by-reference)
  if (m_sharedInstance) throw kCalledTwice;

  m_sharedInstance = boost::make_shared<CBackupJobClient>();
  InstallRollback rollback(m_sharedInstance);
  if (m_sharedInstance->init(pszArg1, nJobId, nArg3, ePlatform, bArg5, pszArg6)) {
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
