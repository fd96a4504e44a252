// The job platform's job client classes.
//
// These declarations must agree with the product's own headers in every
// mangled name and in every size and offset the library relies on (see
// docs/deploying.md). The library allocates CBackupJobClient, and
// so the platform's job client, itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "RkJobClientExport.h"

typedef long long RKJobID;  // the same type as LONGLONG

// Platform types, handed on unchanged; 32 bits wide.
enum RKS_PLATFORMTYPE : std::int32_t {
  RKS_PLATFORM_UNKNOWN = 0,
  RKS_PLATFORM_LINUX = 1,
  RKS_PLATFORM_UNIX = 2,
  RKS_PLATFORM_WINDOWS = 3,
};

// Left open by the platform's contract: whether RKJobClient itself has a
// virtual destructor (RKBkpJobClient's layout and first virtual slot are the
// same either way) and what members it holds.
class RKJOBCLIENT_API RKJobClient {
 public:
  RKJobClient();
  ~RKJobClient();

  RKJobClient(const RKJobClient&) = delete;
  RKJobClient& operator=(const RKJobClient&) = delete;

  // Code and text of the last failure; the text may be null.
  int getLastError();
  const char* getLastErrorStr();

  // Room for the platform's own members, which the library never reads; it
  // keeps a job client at least as large as the product's, whose constructor
  // would otherwise write past an object the library allocated.
  static constexpr std::size_t kReservedBytes = 4088;

 protected:
  alignas(8) unsigned char m_reserved[kReservedBytes];
};

class RKJOBCLIENT_API RKBkpJobClient : public RKJobClient {
 public:
  RKBkpJobClient();
  virtual ~RKBkpJobClient();

  // Joins the job. True when the client is ready; false leaves the reason
  // for getLastError() and getLastErrorStr().
  bool init(const char* pszArg1, RKJobID nJobId, int nArg3, RKS_PLATFORMTYPE ePlatform, bool bArg5,
            const char* pszArg6);
};

// The virtual destructor is the only virtual operation, so the object
// starts with one vtable pointer.
static_assert(sizeof(void*) == 8, "the job client's layout assumes 64-bit pointers");
static_assert(sizeof(RKBkpJobClient) == 4096, "a job client is a vtable pointer and the reserve");
