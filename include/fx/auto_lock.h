// A scoped lock over any lockable resource.
#pragma once

#include "fx/FXLockableResource.h"
#include "fx/ThreadAnnotations.h"

// Asks a guard to take its resource later, at its first Lock().
struct FXDeferLock {
  explicit FXDeferLock() = default;
};

// Releases on the way out only what it took. A null resource makes every
// operation a no-op. Not shared between threads.
class UMX_SCOPED_CAPABILITY auto_lock {
 public:
  // Takes the resource now.
  explicit auto_lock(FXLockableResource* pResource)
      UMX_ACQUIRE(pResource) UMX_NO_THREAD_SAFETY_ANALYSIS : auto_lock(pResource, true) {}
  // Takes the resource at its first Lock(); until then the analysis knows
  // that it is not held.
  auto_lock(FXLockableResource* pResource, FXDeferLock)
      UMX_EXCLUDES(pResource) UMX_NO_THREAD_SAFETY_ANALYSIS : auto_lock(pResource, false) {}
  // Takes the resource now when bLockNow is true, else at its first Lock().
  // Which of the two is known only when it runs, so the analysis is told
  // what is sure of both: the resource is not held yet. Code that the
  // analysis checks writes one of the forms above.
  auto_lock(FXLockableResource* pResource, bool bLockNow) UMX_EXCLUDES(pResource)
      : m_pResource(pResource), m_bHeld(false) {
    if (bLockNow) Lock();
  }
  ~auto_lock() UMX_RELEASE() { Unlock(); }

  auto_lock(const auto_lock&) = delete;
  auto_lock& operator=(const auto_lock&) = delete;

  // Held is recorded even if the resource failed to acquire: Lock() gives no
  // result, and the matching Unlock() is then the resource's to refuse.
  void Lock() UMX_ACQUIRE() UMX_NO_THREAD_SAFETY_ANALYSIS {
    if (m_pResource != nullptr && !m_bHeld) {
      m_pResource->Lock();
      m_bHeld = true;
    }
  }

  void Unlock() UMX_RELEASE() UMX_NO_THREAD_SAFETY_ANALYSIS {
    if (m_pResource != nullptr && m_bHeld) {
      m_pResource->Unlock();
      m_bHeld = false;
    }
  }

  bool IsHeld() const { return m_bHeld; }

 private:
  FXLockableResource* m_pResource;
  bool m_bHeld;
};
