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
  // Creates the client and has the platform initialise it with the six
  // arguments, holding sharedInstanceLock throughout. An empty handle when
  // the platform could not initialise it (the reason is logged, or written
  // to standard error when no log sink is installed); createInstance may
  // then be called again. If init or the log sink throws, the client is
  // uninstalled before the exception passes on. Throws
  // "CBackupJobClient::createInstance is called twice" (a const char*) when
  // a client exists or is being initialised, and "CBackupJobClient::
  // createInstance must be called first" once the process has begun to exit
  // and the library has released its client.
  static CBackupJobClientPtr createInstance(const char* pszArg1, RKJobID nJobId, int nArg3,
                                            RKS_PLATFORMTYPE ePlatform, bool bArg5,
                                            const char* pszArg6);

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
