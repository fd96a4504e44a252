// Clang's thread-safety attributes; empty for other compilers. Build with
// clang and -Wthread-safety to have lock discipline checked.
#pragma once

#if defined(__clang__)
#define UMX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define UMX_THREAD_ANNOTATION(x)
#endif

#define UMX_CAPABILITY(x) UMX_THREAD_ANNOTATION(capability(x))
#define UMX_SCOPED_CAPABILITY UMX_THREAD_ANNOTATION(scoped_lockable)
#define UMX_GUARDED_BY(x) UMX_THREAD_ANNOTATION(guarded_by(x))
#define UMX_ACQUIRE(...) UMX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define UMX_RELEASE(...) UMX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define UMX_TRY_ACQUIRE(...) UMX_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define UMX_EXCLUDES(...) UMX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define UMX_ASSERT_CAPABILITY(x) UMX_THREAD_ANNOTATION(assert_capability(x))
#define UMX_NO_THREAD_SAFETY_ANALYSIS UMX_THREAD_ANNOTATION(no_thread_safety_analysis)
