// Settings and failure controls of the local job platform. Only the local
// stand-in has these; code that must also run on the product's platform does
// not call them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "RkJobClient.h"
#include "RkJobClientExport.h"

namespace RkLocalPlatform {

// Environment variable naming the directory under which the local platform
// keeps its job results and subclient directories.
inline constexpr const char kRootVariable[] = "RK_LOCAL_PLATFORM_ROOT";

// Platform calls that can be made to throw std::runtime_error.
enum class Call {
  Init,
  GetZentServerHostName,
  GetJobResultsDirectory,
  GetApplicationId,
  GetClient,
  GetName,
  GetSubclientDir,
};

// What RKBkpJobClient::init received.
struct InitArgs {
  std::optional<std::string> arg1;  // nullopt for a null pointer
  RKJobID jobId;
  int arg3;
  RKS_PLATFORMTYPE platform;
  bool arg5;
  std::optional<std::string> arg6;
};

// What RKPI_ZentClient::getJobResultsDirectory received.
struct JobResultsDirectoryArgs {
  std::optional<std::string> client;
  unsigned long capacity;
};

// What GetSubclientDir received.
struct SubclientDirArgs {
  unsigned int first;
  unsigned int second;
};

// Restores every default below and clears the records and the focus client.
RKJOBCLIENT_API void Reset();

// The root directory in use: the environment variable, else
// "$TMPDIR/rk-local-platform" ("/tmp" without TMPDIR).
RKJOBCLIENT_API std::string Root();

// Defaults: "zentserver.localdomain"; "<root>/clients/<client>/JobResults";
// "<root>/subclients/<first>/<second>".
RKJOBCLIENT_API void SetZentServerHostName(const std::string& name);

// Adds or replaces an application id and the client it belongs to. Known by
// default: "2:17" -> "localclient".
RKJOBCLIENT_API void RegisterApplication(const std::string& applicationId,
                                         const std::string& client);

// init returns false with this code and text (null allowed).
RKJOBCLIENT_API void FailInit(int code, const char* text);
// Runs inside init, before it decides; for re-entrant calls.
RKJOBCLIENT_API void SetInitCallback(std::function<void()> callback);
// The named call throws std::runtime_error.
RKJOBCLIENT_API void ThrowFrom(Call call);
// Every new platform object reports invalidRKPlatform().
RKJOBCLIENT_API void SetPlatformInvalid(bool invalid);
// getZentServerHostName returns null and leaves `code`.
RKJOBCLIENT_API void FailZentServerHostName(unsigned long code);
// getJobResultsDirectory returns 0 and leaves `code`.
RKJOBCLIENT_API void FailJobResultsDirectory(unsigned long code);
// getJobResultsDirectory fills the second and third buffers with junk.
RKJOBCLIENT_API void ScribbleOnScratchBuffers(bool scribble);
// getJobResultsDirectory and GetSubclientDir fill their whole output buffer
// with text and no terminating NUL, and report success.
RKJOBCLIENT_API void WriteUnterminatedDirectories(bool unterminated);
// getApplicationId returns `result`.
RKJOBCLIENT_API void FailGetApplicationId(int result);
// getClient returns null.
RKJOBCLIENT_API void FailGetClient();
// The client's getName returns `result`.
RKJOBCLIENT_API void FailGetName(int result);
// GetSubclientDir returns `result`, or writes `dir` when it succeeds.
RKJOBCLIENT_API void FailSubclientDir(int result);
RKJOBCLIENT_API void SetSubclientDir(const std::string& dir);

// The arguments of the latest calls (at most 64 of each), oldest first.
RKJOBCLIENT_API std::vector<InitArgs> InitCalls();
RKJOBCLIENT_API std::vector<JobResultsDirectoryArgs> JobResultsDirectoryCalls();
RKJOBCLIENT_API std::vector<SubclientDirArgs> SubclientDirCalls();

}  // namespace RkLocalPlatform
