/// \file
/// A scoped lock over any lockable resource.
#pragma once

#include "fx/FXLockableResource.h"
#include "fx/ThreadAnnotations.h"

/// Asks a guard to take its resource later, at its first Lock().
struct FXDeferLock {
  /// Written `FXDeferLock()` where a guard is made.
  explicit FXDeferLock() = default;
};

/// A guard that releases on the way out only what it took. A null resource
/// makes every operation a no-op. Not shared between threads.
///
/// What clang's thread-safety analysis knows after each form:
/// - `auto_lock lock(&mutex)`: the mutex is held until the guard goes or
///   `lock.Unlock()`;
/// - `auto_lock lock(&mutex, FXDeferLock())`: not held until `lock.Lock()`;
/// - `auto_lock lock(&mutex, bLockNow)`: not held, as whether it locks is
///   known only when it runs.
class UMX_SCOPED_CAPABILITY auto_lock {
 public:
  /// Takes the resource now.
  explicit auto_lock(FXLockableResource* pResource)
      UMX_ACQUIRE(pResource) UMX_NO_THREAD_SAFETY_ANALYSIS : auto_lock(pResource, true) {}
  /// Takes the resource at its first Lock(); until then the analysis knows
  /// that it is not held.
  auto_lock(FXLockableResource* pResource, FXDeferLock)
      UMX_EXCLUDES(pResource) UMX_NO_THREAD_SAFETY_ANALYSIS : auto_lock(pResource, false) {}
  /// Takes the resource now when `bLockNow` is true, else at its first
  /// Lock(). Which of the two is known only when it runs, so the analysis is
  /// told what is sure of both: the resource is not held yet. Code that the
  /// analysis checks writes one of the forms above.
  auto_lock(FXLockableResource* pResource, bool bLockNow) UMX_EXCLUDES(pResource)
      : m_pResource(pResource), m_bHeld(false) {
    if (bLockNow) Lock();
  }
  /// Releases the resource if this guard holds it.
  ~auto_lock() UMX_RELEASE() { Unlock(); }

  auto_lock(const auto_lock&) = delete;
  auto_lock& operator=(const auto_lock&) = delete;

  /// Takes the resource unless this guard holds it already. Held is recorded
  /// even if the resource failed to acquire: Lock() gives no result, and the
  /// matching Unlock() is then the resource's to refuse.
  void Lock() UMX_ACQUIRE() UMX_NO_THREAD_SAFETY_ANALYSIS {
    if (m_pResource != nullptr && !m_bHeld) {
      m_pResource->Lock();
      m_bHeld = true;
    }
  }

  /// Releases the resource if this guard holds it.
  void Unlock() UMX_RELEASE() UMX_NO_THREAD_SAFETY_ANALYSIS {
    if (m_pResource != nullptr && m_bHeld) {
      m_pResource->Unlock();
      m_bHeld = false;
    }
  }

  /// Whether this guard holds the resource.
  bool IsHeld() const { return m_bHeld; }

 private:
  FXLockableResource* m_pResource;
  bool m_bHeld;
};
