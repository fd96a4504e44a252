// The job platform's central-server, focus, application and subclient
// services.
//
// The library builds RKPI_ZentClient and ApplicationId on its own stack, so
// their sizes, and the offset of the last error that the inline
// getLastError() reads, must agree with the product's headers (see
// docs/deploying.md).
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

#include "RkJobClientExport.h"

// No virtual operation: the object starts with its last error.
class RKJOBCLIENT_API RKPI_PlatformBase {
 public:
  RKPI_PlatformBase();
  ~RKPI_PlatformBase();

  RKPI_PlatformBase(const RKPI_PlatformBase&) = delete;
  RKPI_PlatformBase& operator=(const RKPI_PlatformBase&) = delete;

  // True when the object could not be set up and must not be used.
  bool invalidRKPlatform();

  // The central server's host name, valid while this object lives; null on
  // failure, with the reason left for getLastError().
  const char* getZentServerHostName();

  unsigned long getLastError() const { return m_ulLastError; }

  // Room for the platform's own members, which the library never reads; it
  // keeps a platform object at least as large as the product's, whose
  // constructor would otherwise write past the library's stack slot.
  static constexpr std::size_t kReservedBytes = 1016;

 protected:
  unsigned long m_ulLastError;
  alignas(8) unsigned char m_reserved[kReservedBytes];
};

// Left open by the platform's contract: the return type's width (the
// library tests it only against zero).
class RKJOBCLIENT_API RKPI_ZentClient : public RKPI_PlatformBase {
 public:
  RKPI_ZentClient();
  ~RKPI_ZentClient();

  // Writes the job results directory of client `pszClient` into `pszDir` as
  // NUL-terminated text, using the two further buffers as scratch; each
  // buffer holds `ulCapacity` bytes. Non-zero on success; zero on failure,
  // with the reason left for getLastError().
  int getJobResultsDirectory(const char* pszClient, char* pszDir, char* pszAux1, char* pszAux2,
                             unsigned long ulCapacity);
};

// A standard-layout class starts with its first member, so getLastError()
// reads offset 0.
static_assert(std::is_standard_layout<RKPI_PlatformBase>::value, "m_ulLastError at offset 0");
static_assert(sizeof(unsigned long) == 8, "the platform objects' layout assumes LP64");
static_assert(sizeof(RKPI_ZentClient) == 1024,
              "a platform object is its last error and the reserve");

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

// Left open by the platform's contract: the class of the client object that
// ApplicationId::getClient returns, and the second parameter's type. Its one
// virtual operation is getName, in the first slot; the object belongs to the
// platform, so it is never deleted through this class.
class RKJOBCLIENT_API RKPI_Client {
 public:
  // Fills `name` with the client's name; 0 on success.
  virtual int getName(std::string& name, int nFlags) = 0;

 protected:
  RKPI_Client() = default;
  ~RKPI_Client() = default;
  RKPI_Client(const RKPI_Client&) = default;
  RKPI_Client& operator=(const RKPI_Client&) = default;
};

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

  // Room for the platform's own members (see RKPI_PlatformBase).
  static constexpr std::size_t kReservedBytes = 1024;

 protected:
  alignas(8) unsigned char m_reserved[kReservedBytes];
};

static_assert(sizeof(ApplicationId) == 1024, "an application id is its reserve");

// Writes the directory of a subclient into `pszDir`, at most 1024 bytes with
// the terminating NUL; 0 on success.
RKJOBCLIENT_API int GetSubclientDir(unsigned int nFirst, unsigned int nSecond, char* pszDir);
