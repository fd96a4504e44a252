/// \file
/// The process's one backup job client.
///
/// Misuse of the client is reported by throwing a `const char*`, the text
/// naming the mistake, so an agent catches `const char*` as well as
/// `std::exception` around its job: `catch (const std::exception&)` alone
/// lets the misuse end the process in `std::terminate`.
#pragma once

#include <boost/shared_ptr.hpp>

#include "RkJobClient.h"
#include "UMXClientExport.h"
#include "fx/FXMutex.h"
#include "fx/ThreadAnnotations.h"

class CBackupJobClient;
/// A shared handle on the backup job client; an agent keeps one for as long
/// as it uses the client.
typedef boost::shared_ptr<CBackupJobClient> CBackupJobClientPtr;

/// Guards CBackupJobClient::m_sharedInstance. Built when the library is
/// loaded and never destroyed, so that any thread may still take it while
/// the process exits.
extern UMX_API FXMutex sharedInstanceLock;

/// The process's backup job client: the platform's job client, made and
/// initialised once, shared by every thread of the agent.
///
/// A process may return from `main` or call `exit` while its own threads
/// still call instance() or createInstance() or hold sharedInstanceLock: at
/// exit the library empties m_sharedInstance under the lock and releases its
/// reference after it, waiting for a createInstance() under way to finish.
/// A client no thread holds then is released, and the platform's destructor
/// runs; later calls throw the `"must be called first"` text.
class UMX_API CBackupJobClient : private RKBkpJobClient {
 public:
  /// Creates the client and has the platform's `init` initialise it, holding
  /// sharedInstanceLock throughout. `init` takes the six arguments in the
  /// same places, unchanged; the library reads none but the job's id and the
  /// kind of system, and keeps none.
  ///
  /// When `init` refuses, the reason is logged through the log sink, or
  /// written to standard error as one line of printable text when none is
  /// installed, and createInstance() may be called again.
  ///
  /// \param pszPlatformArg1 The platform's own; the examples pass the client
  ///        name, empty when not known yet.
  /// \param nJobId The job's id.
  /// \param nPlatformArg3 The platform's own; the examples pass 0.
  /// \param ePlatform The kind of system the agent runs on
  ///        (`RKS_PLATFORM_LINUX`).
  /// \param bPlatformArg5 The platform's own; the examples pass `false` or
  ///        the synthetic full flag.
  /// \param pszPlatformArg6 The platform's own; the examples pass an empty
  ///        text or the job manager token.
  /// \return The client, also installed for instance(); an empty handle when
  ///         the platform could not initialise it.
  /// \throws "const char*" Misuse: the text
  ///         `%CBackupJobClient::createInstance is called twice` when a client
  ///         exists or is being initialised, and
  ///         `%CBackupJobClient::createInstance must be called first` once
  ///         the process has begun to exit and the library has released its
  ///         client.
  /// \throws ... Whatever the platform's `init` throws, and whatever the log
  ///         sink's `WriteLog` throws while it logs a refusal. No client is
  ///         left installed then, and the call may be made again.
  static CBackupJobClientPtr createInstance(const char* pszPlatformArg1, RKJobID nJobId,
                                            int nPlatformArg3, RKS_PLATFORMTYPE ePlatform,
                                            bool bPlatformArg5, const char* pszPlatformArg6);

  /// The client, from any thread; waits while another thread creates it. On
  /// the creating thread, code run by `init` gets the client being
  /// initialised.
  /// \throws "const char*" Misuse: the text
  ///         `%CBackupJobClient::createInstance must be called first` when no
  ///         client exists, as after a refused createInstance() or once the
  ///         library released its client at exit.
  static CBackupJobClientPtr instance();

  /// An uninitialised client; createInstance() is the way to make the
  /// process's one.
  CBackupJobClient();
  /// Runs the platform's job client destructor.
  ~CBackupJobClient() override;

  /// The installed client, empty before createInstance() succeeds and after
  /// the library released it at exit. Read and written only under
  /// sharedInstanceLock.
  static CBackupJobClientPtr m_sharedInstance UMX_GUARDED_BY(sharedInstanceLock);
};
