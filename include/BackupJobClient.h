// The process's one backup job client.
#pragma once

#include <boost/shared_ptr.hpp>

#include "RkJobClient.h"
#include "UMXClientExport.h"
#include "fx/FXMutex.h"
#include "fx/ThreadAnnotations.h"

class CBackupJobClient;
typedef boost::shared_ptr<CBackupJobClient> CBackupJobClientPtr;

// Guards CBackupJobClient::m_sharedInstance.
extern UMX_API FXMutex sharedInstanceLock;

class UMX_API CBackupJobClient : private RKBkpJobClient {
 public:
  // Creates and initialises the client. An empty handle when the platform
  // could not initialise it (the reason is logged); createInstance may then
  // be called again. Throws "CBackupJobClient::createInstance is called
  // twice" (a const char*) when a client exists.
  static CBackupJobClientPtr createInstance(const char* pszArg1, RKJobID nJobId,
                                            int nArg3, RKS_PLATFORMTYPE ePlatform,
                                            bool bArg5, const char* pszArg6);

  // The client, from any thread. Throws "CBackupJobClient::createInstance
  // must be called first" (a const char*) before one exists.
  static CBackupJobClientPtr instance();

  CBackupJobClient();
  ~CBackupJobClient() override;

  static CBackupJobClientPtr m_sharedInstance UMX_GUARDED_BY(sharedInstanceLock);
};
