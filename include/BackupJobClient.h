// The process's one backup job client.
#pragma once

#include <boost/shared_ptr.hpp>

#include "RkJobClient.h"
#include "UMXClientExport.h"
#include "fx/FXMutex.h"
#include "fx/ThreadAnnotations.h"

class CBackupJobClient;
typedef boost::shared_ptr<CBackupJobClient> CBackupJobClientPtr;

// Guards CBackupJobClient::m_sharedInstance. Never destroyed, so that it may
// still be taken while the process exits.
extern UMX_API FXMutex sharedInstanceLock;

class UMX_API CBackupJobClient : private RKBkpJobClient {
 public:
  // Creates the client and has the platform initialise it, holding
  // sharedInstanceLock throughout. The platform's init takes the six
  // arguments in the same places, unchanged: the job's id, the kind of
  // system the agent runs on (RKS_PLATFORM_LINUX, ...), and four whose
  // meaning is the platform's own, which the library neither reads nor
  // keeps. An empty handle when
  // the platform could not initialise it (the reason is logged, or written
  // to standard error when no log sink is installed); createInstance may
  // then be called again. If init or the log sink throws, the client is
  // uninstalled before the exception passes on. Throws
  // "CBackupJobClient::createInstance is called twice" (a const char*) when
  // a client exists or is being initialised, and "CBackupJobClient::
  // createInstance must be called first" once the process has begun to exit
  // and the library has released its client.
  static CBackupJobClientPtr createInstance(const char* pszPlatformArg1, RKJobID nJobId,
                                            int nPlatformArg3, RKS_PLATFORMTYPE ePlatform,
                                            bool bPlatformArg5, const char* pszPlatformArg6);

  // The client, from any thread; waits while another thread creates it.
  // On the creating thread, code run by init gets the client being
  // initialised. Throws "CBackupJobClient::createInstance must be called
  // first" (a const char*) when none exists, as after the library released
  // its client at exit.
  static CBackupJobClientPtr instance();

  CBackupJobClient();
  ~CBackupJobClient() override;

  static CBackupJobClientPtr m_sharedInstance UMX_GUARDED_BY(sharedInstanceLock);
};
