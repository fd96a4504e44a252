// The job platform's central-server, focus, application and subclient
// services.
#pragma once

#include <memory>
#include <string>

#include "RkJobClientExport.h"

class RKJOBCLIENT_API RKPI_PlatformBase {
 public:
  RKPI_PlatformBase();
  virtual ~RKPI_PlatformBase();

  RKPI_PlatformBase(const RKPI_PlatformBase&) = delete;
  RKPI_PlatformBase& operator=(const RKPI_PlatformBase&) = delete;

  // True when the object could not be set up and must not be used.
  bool invalidRKPlatform() const;

  // The central server's host name, valid while this object lives; null on
  // failure, with the reason left for getLastError().
  const char* getZentServerHostName();

  unsigned long getLastError() const { return m_ulLastError; }

 protected:
  unsigned long m_ulLastError;
  bool m_bInvalid;
  std::string m_strHostName;
};

class RKJOBCLIENT_API RKPI_ZentClient : public RKPI_PlatformBase {
 public:
  RKPI_ZentClient();
  ~RKPI_ZentClient() override;

  // Writes the job results directory of client `pszClient` into `pszDir` as
  // NUL-terminated text, using the two further buffers as scratch; each
  // buffer holds `ulCapacity` bytes. Non-zero on success; zero on failure,
  // with the reason left for getLastError().
  int getJobResultsDirectory(const char* pszClient, char* pszDir, char* pszAux1, char* pszAux2,
                             unsigned long ulCapacity);
};

// The process-wide focus client: the client on whose behalf job results are
// looked up. Safe to set and read from several threads; a returned name
// stays valid for the life of the process.
class RKJOBCLIENT_API RKPI_Focus {
 public:
  static void setFocusClientName(const char* pszName);
  // The name last set. With bUseDefault false, null when none is set; with
  // true, the local machine's own client name when none is set.
  static const char* getFocusClientName(bool bUseDefault);
};

// A client known to the platform.
class RKJOBCLIENT_API RKPI_Client {
 public:
  virtual ~RKPI_Client();
  // Fills `name` with the client's name; 0 on success.
  virtual int getName(std::string& name, int nFlags) = 0;
};

class ApplicationIdState;

// An application, named by its "<cell id>:<application number>" text.
class RKJOBCLIENT_API ApplicationId {
 public:
  explicit ApplicationId(const std::string& strApplicationId);
  ~ApplicationId();

  ApplicationId(const ApplicationId&) = delete;
  ApplicationId& operator=(const ApplicationId&) = delete;

  // Resolves the application; 0 when it is known.
  int getApplicationId(void* pContext);
  // The application's client, owned by this object and valid while it
  // lives; null when there is none.
  RKPI_Client* getClient(void* pContext);

 private:
  std::unique_ptr<ApplicationIdState> m_pState;
};

// Writes the directory of a subclient into `pszDir`, at most 1024 bytes with
// the terminating NUL; 0 on success.
RKJOBCLIENT_API int GetSubclientDir(unsigned int nFirst, unsigned int nSecond, char* pszDir);
