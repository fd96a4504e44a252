// The job platform's job client classes.
#pragma once

#include <cstdint>
#include <memory>

#include "RkJobClientExport.h"

typedef long long RKJobID;  // the same type as LONGLONG

// Platform types, handed on unchanged; 32 bits wide.
enum RKS_PLATFORMTYPE : std::int32_t {
  RKS_PLATFORM_UNKNOWN = 0,
  RKS_PLATFORM_LINUX = 1,
  RKS_PLATFORM_UNIX = 2,
  RKS_PLATFORM_WINDOWS = 3,
};

class RKJobClientState;

class RKJOBCLIENT_API RKJobClient {
 public:
  RKJobClient();
  virtual ~RKJobClient();

  RKJobClient(const RKJobClient&) = delete;
  RKJobClient& operator=(const RKJobClient&) = delete;

  // Code and text of the last failure; the text may be null.
  int getLastError() const;
  const char* getLastErrorStr() const;

 protected:
  std::unique_ptr<RKJobClientState> m_pState;
};

class RKJOBCLIENT_API RKBkpJobClient : public RKJobClient {
 public:
  RKBkpJobClient();
  ~RKBkpJobClient() override;

  // Joins the job. True when the client is ready; false leaves the reason
  // for getLastError() and getLastErrorStr().
  bool init(const char* pszArg1, RKJobID nJobId, int nArg3, RKS_PLATFORMTYPE ePlatform, bool bArg5,
            const char* pszArg6);
};
