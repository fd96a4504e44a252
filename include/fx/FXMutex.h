/// \file
/// A recursive mutex that counts its holder's acquisitions.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "fx/FXLockableResource.h"
#include "fx/ThreadAnnotations.h"

/// A recursive mutex, built on a recursive POSIX mutex. The hold count and
/// the owner change only on the holder's thread, while it holds the system
/// mutex. Lock operations never report a failure: a failed system call
/// leaves the bookkeeping as it was.
class UMX_CAPABILITY("mutex") FXMutex : public FXLockableResource {
 public:
  /// Free, with a hold count of 0.
  FXMutex() : m_nHoldCount(0) { FXMutex::Init(); }

  /// Releases the holds of the destroying thread. Holds of other threads are
  /// theirs to release: destroying a mutex that another thread holds is a
  /// caller's error.
  ~FXMutex() override UMX_NO_THREAD_SAFETY_ANALYSIS {
    while (GetOwnerThreadId() == GetCurrentThreadId() && m_nHoldCount > 0) {
      FXMutex::Unlock();
    }
    (void)pthread_mutex_destroy(&m_mutex);
  }

  /// Acquires if free or already held by the caller, adding one hold; never
  /// blocks.
  /// \return Whether the caller now holds it.
  bool TryLock() override UMX_TRY_ACQUIRE(true) UMX_NO_THREAD_SAFETY_ANALYSIS {
    if (pthread_mutex_trylock(&m_mutex) != 0) return false;
    NoteAcquired();
    return true;
  }

  /// One immediate TryLock(), whatever the interval.
  bool TryLock(CTimeInterval interval) override UMX_TRY_ACQUIRE(true) {
    return FXLockableResource::TryLock(interval);
  }

  /// Acquires, waiting while another thread holds it, and adds one hold.
  void Lock() override UMX_ACQUIRE() UMX_NO_THREAD_SAFETY_ANALYSIS {
    if (pthread_mutex_lock(&m_mutex) == 0) NoteAcquired();
  }

  /// Releases one hold of the calling thread. The system unlock is always
  /// called; for a thread that is not the recorded owner (the mutex is free or
  /// another thread holds it) it refuses, and the hold count and owner are
  /// left as they are, the count not even read. ThreadSanitizer reports that
  /// system unlock of a mutex the caller does not hold as a misuse, by design:
  /// the call is the caller's error.
  void Unlock() override UMX_RELEASE() UMX_NO_THREAD_SAFETY_ANALYSIS {
    if (GetOwnerThreadId() == GetCurrentThreadId() && m_nHoldCount != 0) {
      --m_nHoldCount;
      if (m_nHoldCount <= 0) ClearLockOwner();
    }
    (void)pthread_mutex_unlock(&m_mutex);
  }

  /// The holder's number of holds, 0 when free. Meaningful to the holder, or
  /// to a thread that knows no other thread changes it meanwhile; it is not
  /// read under the lock.
  std::int32_t GetHoldCount() const { return m_nHoldCount; }

 protected:
  /// Clears the owner and sets the system mutex up as recursive; the hold
  /// count is left alone. Run by the constructor; a derived class may run it
  /// again before anyone can hold the mutex. It keeps its slot in the
  /// virtual table.
  virtual void Init() {
    ClearLockOwner();
    pthread_mutexattr_t attributes;
    (void)pthread_mutexattr_init(&attributes);
    (void)pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    (void)pthread_mutex_init(&m_mutex, &attributes);
    (void)pthread_mutexattr_destroy(&attributes);
  }

 private:
  void NoteAcquired() {
    ++m_nHoldCount;
    SetLockOwner();
  }

  pthread_mutex_t m_mutex;
  std::int32_t m_nHoldCount;
};
