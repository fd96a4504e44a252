/// \file
/// Clang's thread-safety attributes; empty for other compilers. Build with
/// clang and `-Wthread-safety` to have lock discipline checked.
#pragma once

/// One clang attribute, or nothing for other compilers.
#if defined(__clang__)
#define UMX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define UMX_THREAD_ANNOTATION(x)
#endif

/// The class is a lock of kind `x` (`"mutex"`).
#define UMX_CAPABILITY(x) UMX_THREAD_ANNOTATION(capability(x))
/// The class holds a lock for the span of its objects.
#define UMX_SCOPED_CAPABILITY UMX_THREAD_ANNOTATION(scoped_lockable)
/// The variable is read and written only while lock `x` is held.
#define UMX_GUARDED_BY(x) UMX_THREAD_ANNOTATION(guarded_by(x))
/// The function takes the named locks (this object's when none is named).
#define UMX_ACQUIRE(...) UMX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
/// The function lets the named locks go (this object's when none is named).
#define UMX_RELEASE(...) UMX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
/// The function takes the lock when it returns the first argument.
#define UMX_TRY_ACQUIRE(...) UMX_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
/// The caller must not hold the named locks.
#define UMX_EXCLUDES(...) UMX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
/// After the call, the analysis takes lock `x` as held.
#define UMX_ASSERT_CAPABILITY(x) UMX_THREAD_ANNOTATION(assert_capability(x))
/// The function's body is not checked.
#define UMX_NO_THREAD_SAFETY_ANALYSIS UMX_THREAD_ANNOTATION(no_thread_safety_analysis)
