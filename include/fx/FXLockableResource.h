/// \file
/// The abstract base of everything the library locks, with the owner
/// bookkeeping that its holders keep.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "fx/ThreadAnnotations.h"

/// A time interval for a timed lock attempt. The lock classes never wait, so
/// they never read it.
class CTimeInterval {
 public:
  /// No time: 0 milliseconds.
  CTimeInterval() = default;
  /// `nMilliseconds` long.
  explicit CTimeInterval(std::int64_t nMilliseconds) : m_nMilliseconds(nMilliseconds) {}

  /// The interval's length in milliseconds.
  std::int64_t Milliseconds() const { return m_nMilliseconds; }

 private:
  std::int64_t m_nMilliseconds = 0;
};

/// The calling thread's id for owner bookkeeping: the low 32 bits of its
/// pthread handle. 0 means "no thread".
inline std::uint32_t GetCurrentThreadId() { return static_cast<std::uint32_t>(pthread_self()); }

/// A lock that knows its holder. Lock operations report no failure and
/// throw nothing; a broken lock stops the process.
class UMX_CAPABILITY("mutex") FXLockableResource {
 public:
  /// Free: no owner.
  FXLockableResource() : m_dwOwnerThreadId(0) {}
  virtual ~FXLockableResource() = default;

  FXLockableResource(const FXLockableResource&) = delete;
  FXLockableResource& operator=(const FXLockableResource&) = delete;

  /// Acquires if free or already held by the caller; never blocks.
  /// \return Whether the caller now holds it.
  virtual bool TryLock() UMX_TRY_ACQUIRE(true) = 0;
  /// One immediate TryLock(), whatever the interval. Derived classes call the
  /// body defined here by its qualified name.
  virtual bool TryLock(CTimeInterval interval) UMX_TRY_ACQUIRE(true) = 0;
  /// Acquires, waiting while another thread holds it.
  virtual void Lock() UMX_ACQUIRE() = 0;
  /// Releases one hold of the calling thread.
  virtual void Unlock() UMX_RELEASE() = 0;

  /// The holder's id, 0 when free. Any thread may read it without the lock;
  /// the answer may be out of date by the time it is used.
  std::uint32_t GetOwnerThreadId() const {
    return m_dwOwnerThreadId.load(std::memory_order_relaxed);
  }

  /// Tells the analysis that the caller holds the resource, where it cannot
  /// follow the lock (a callback run under it, say). A caller that is not
  /// the holder is a programming error: the process stops, saying so.
  void AssertHeld() const UMX_ASSERT_CAPABILITY(this) {
    if (GetOwnerThreadId() == GetCurrentThreadId()) return;
    std::fputs("FXLockableResource::AssertHeld: the calling thread does not hold the lock\n",
               stderr);
    std::abort();
  }

 protected:
  /// Records the calling thread as the holder. Only the holder changes the
  /// owner, while it holds the resource.
  void SetLockOwner() { m_dwOwnerThreadId.store(GetCurrentThreadId(), std::memory_order_relaxed); }
  /// Records that no thread holds it; called by the holder as it lets go.
  void ClearLockOwner() { m_dwOwnerThreadId.store(0, std::memory_order_relaxed); }

 private:
  std::atomic<std::uint32_t> m_dwOwnerThreadId;
};

// ATOMIC_INT_LOCK_FREE speaks for std::atomic<unsigned int>, which
// std::uint32_t is; 2 means always lock-free.
static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  alignof(std::atomic<std::uint32_t>) == alignof(std::uint32_t) &&
                  std::is_same<std::uint32_t, unsigned int>::value && ATOMIC_INT_LOCK_FREE == 2,
              "the owner id keeps the size and place of a plain 32-bit field");

inline bool FXLockableResource::TryLock(CTimeInterval /*interval*/) { return TryLock(); }
