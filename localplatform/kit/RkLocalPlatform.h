// Settings and failure controls of the local job platform. Only the local
// stand-in has these; code that must also run on the product's platform does
// not call them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "RkJobClient.h"
#include "RkJobClientExport.h"
#include "RkPlatformCalls.h"

namespace RkLocalPlatform {

// Environment variable naming the directory under which the local platform
// keeps its job results and subclient directories.
constexpr const char kRootVariable[] = "RK_LOCAL_PLATFORM_ROOT";

// Environment variable with a comma-separated list of failures that the
// platform arms at its first call, of any kind, as the controls below would:
//   init=CODE:TEXT  init=CODE  invalid  hostname=CODE  resultsdir=CODE
//   appid=RESULT  getclient  getname=RESULT  subclient=RESULT
//   throw=NAME  hold=NAME  term=NAME (NAME: init, hostname, resultsdir,
//   appid, getclient, getname, subclient)  unterminated  scribble
//   sethostname=TEXT  setresultsdir=DIR
// Numbers are decimal; a RESULT is not 0. A TEXT or DIR runs to the next
// comma, may be empty and may hold control characters. Unset or empty arms
// nothing. A malformed list stops the process at that first call, with a
// message on stderr that quotes the offending item and
// kMalformedFaultsStatus.
constexpr const char kFaultsVariable[] = "RK_LOCAL_PLATFORM_FAULTS";
// Apart from any status an agent gives its own failures, so that a typo in
// the list cannot pass for the failure it meant to arm (env(1) uses it too).
constexpr int kMalformedFaultsStatus = 125;

// Environment variable naming a file to which the platform appends one JSON
// object a line for each platform call: its sequence number in the process,
// the process, the call's name, its arguments, its outcome (result, whether
// it failed, last error, thrown), and a "held" line before a held call
// waits. Read at the first platform call; a file that cannot be opened is
// named once on stderr and the process goes on without a transcript.
constexpr const char kTranscriptVariable[] = "RK_LOCAL_PLATFORM_TRANSCRIPT";
// What a held call fails with once a signal ends its hold (the operation was
// cancelled): its result or its last error.
constexpr int kCancelledResult = 1223;

// A text argument as the platform received it.
struct ReceivedText {
  bool null;         // a null pointer
  std::string text;  // the text, when it was not null
};
inline bool operator==(const ReceivedText& a, const ReceivedText& b) {
  return a.null == b.null && a.text == b.text;
}

// What RKBkpJobClient::init received.
struct InitArgs {
  ReceivedText arg1;
  RKJobID jobId;
  int arg3;
  RKS_PLATFORMTYPE platform;
  bool arg5;
  ReceivedText arg6;
};

// What RKPI_ZentClient::getJobResultsDirectory received.
struct JobResultsDirectoryArgs {
  ReceivedText client;
  unsigned long capacity;
};

// What GetSubclientDir received.
struct SubclientDirArgs {
  unsigned int first;
  unsigned int second;
};

// Restores every default below and clears the records and the focus client,
// and whatever kFaultsVariable armed (the variable is not read again).
RKJOBCLIENT_API void Reset();

// The root directory in use. A root named by kRootVariable is the user's
// choice and is used as given. Without it the root is the user's own:
// "$XDG_RUNTIME_DIR/rk-local-platform" when XDG_RUNTIME_DIR is set, else
// "rk-local-platform-<uid>" in $TMPDIR ("/tmp" without TMPDIR). A lookup
// that builds a path on the default root first creates it with mode 0700
// when absent, and refuses it (the lookup fails with 5, access denied, and
// a line on stderr names the path and the reason) when it is a symbolic
// link, not a directory, not owned by the user, or writable by group or
// others, or when its parent folder belongs to neither the user nor root or
// is writable by group or others and not sticky, and then makes nothing: it
// is never followed, repaired or removed. Root() itself only
// names the root.
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
// The next call of `call` is held: with every signal blocked it runs
// `onHold` (when not empty), then waits with every signal unblocked until the
// calling thread catches one, and fails with kCancelledResult (getClient:
// null). A signal the process ignores does not end the hold.
RKJOBCLIENT_API void HoldUntilSignalled(Call call,
                                        std::function<void()> onHold = std::function<void()>());
// The next call of `call` sends SIGTERM to its own thread once it has its
// answer and its record in the transcript, just before it returns it.
RKJOBCLIENT_API void TerminateAfter(Call call);
// Every new platform object reports invalidRKPlatform().
RKJOBCLIENT_API void SetPlatformInvalid(bool invalid);
// getZentServerHostName returns null and leaves `code`.
RKJOBCLIENT_API void FailZentServerHostName(unsigned long code);
// getJobResultsDirectory returns 0 and leaves `code`.
RKJOBCLIENT_API void FailJobResultsDirectory(unsigned long code);
// getJobResultsDirectory writes `dir`, whatever the client, when it
// succeeds; the root is then not used.
RKJOBCLIENT_API void SetJobResultsDirectory(const std::string& dir);
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
