// A scoped lock over any lockable resource.
#pragma once

#include "fx/FXLockableResource.h"
#include "fx/ThreadAnnotations.h"

// Releases on the way out only what it took. A null resource makes every
// operation a no-op. Not shared between threads.
class UMX_SCOPED_CAPABILITY auto_lock {
 public:
  // For the analysis a guard holds the resource from construction; one made
  // with bLockNow false takes it at its first Lock().
  explicit auto_lock(FXLockableResource* pResource, bool bLockNow = true) UMX_ACQUIRE(pResource)
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
