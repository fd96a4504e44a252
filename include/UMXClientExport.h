/// \file
/// Visibility of libUMXClient's interface: the library is built with hidden
/// visibility, and only what carries UMX_API is exported.
#pragma once

/// \mainpage UMXClient
///
/// The library a backup agent links to take part in a job: it reads the
/// job's options from the command line (CArguments), owns the process's
/// backup job client (CBackupJobClient), finds where a job's results go
/// (CXJob), names job statuses and scan modes (EJobStatus, EJobStatusFor,
/// EScanType, BScanModeReason) and gives the job report interface
/// (CJobReport). It runs on the job platform and the utility library, whose
/// headers come with it.
///
/// \section errors Errors and exceptions
///
/// A fallible operation returns a `CQiError`: `IsError()` tells failure, and
/// `GetCode()` is the 32-bit code, `0x8007xxxx` for a Windows error code or
/// the negated result of the job platform.
///
/// Misuse of the backup job client throws a `const char*` that names the
/// mistake, so an agent catches `const char*` as well as `std::exception`
/// around its job. Nothing else is thrown by the library itself: anything
/// that allocates may throw `std::bad_alloc`, and what the platform's calls
/// or the agent's log sink throw passes, as each operation says. An
/// exception that passes leaves the library as it was: nothing leaks, no
/// client is left half made, and the call may be made again.
///
/// \section numbers Number options
///
/// The job's numbers are read as `strtoll` and `strtoul` read them, the
/// longest prefix that is a number, and never fail; CArguments says how, and
/// how an agent checks the whole text itself.
///
/// \section threads Threads and locks
///
/// CBackupJobClient::instance() may be called from any thread, and a process
/// may exit while its threads still use the client. FXMutex and auto_lock,
/// which guard it, carry clang's thread-safety annotations
/// (fx/ThreadAnnotations.h).

/// Marks a declaration as part of libUMXClient's exported interface.
#define UMX_API __attribute__((visibility("default")))
