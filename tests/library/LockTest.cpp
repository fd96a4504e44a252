#include <pthread.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "fx/FXMutex.h"
#include "fx/auto_lock.h"

namespace {

// While t_bRefuseUnlocks is set the probe below refuses in the system's
// place, as the system refuses a non-holder.
thread_local std::vector<int> t_unlockResults;
thread_local bool t_bRefuseUnlocks = false;

}  // namespace

// The mutex under test reaches the system unlock through this probe, so the
// tests see every release, its destructor's too: the test program is linked
// with --wrap=pthread_mutex_unlock, which sends each call of its own code,
// the inline members of FXMutex included, here, and leaves the system's
// function under the name __real_pthread_mutex_unlock. The linker checks
// the shared libraries' references against the wrapper too, so it is
// visible.
extern "C" int __real_pthread_mutex_unlock(pthread_mutex_t* pMutex);
extern "C" __attribute__((visibility("default"))) int __wrap_pthread_mutex_unlock(
    pthread_mutex_t* pMutex) {
  t_unlockResults.push_back(t_bRefuseUnlocks ? EPERM : __real_pthread_mutex_unlock(pMutex));
  return t_unlockResults.back();
}

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer reports the system unlock of a mutex that the caller does
// not hold; UnlockAsNonHolder makes exactly that call on purpose.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "mutex:UnlockAsNonHolder\n";
}
#endif

namespace {

// The tests take and release holds in patterns the static analysis rejects
// on purpose, so every lock operation goes through these.
void Acquire(FXLockableResource& resource) UMX_NO_THREAD_SAFETY_ANALYSIS { resource.Lock(); }
void Release(FXLockableResource& resource) UMX_NO_THREAD_SAFETY_ANALYSIS { resource.Unlock(); }
// A frame of its own, the one ThreadSanitizer's report is suppressed for.
__attribute__((noinline)) void UnlockAsNonHolder(FXMutex& mutex) { Release(mutex); }

using MutexState = std::pair<std::int32_t, std::uint32_t>;  // holds, owner
MutexState StateOf(const FXMutex& m) { return {m.GetHoldCount(), m.GetOwnerThreadId()}; }

// Every attempt is one immediate try, whatever the interval: a waiting one
// would never return while the holder joins the thread that makes it.
const std::vector<std::function<bool(FXMutex&)>> kAttempts = {
    [](FXMutex& m) { return m.TryLock(); },
    [](FXMutex& m) { return m.TryLock(CTimeInterval()); },
    [](FXMutex& m) { return m.TryLock(CTimeInterval(std::numeric_limits<std::int64_t>::max())); },
};

// Whether each attempt from a new thread took the mutex; one that did
// must hold it once, as owner, and release it.
std::vector<bool> AttemptsFromAnotherThread(FXMutex& mutex) {
  return umx_test::OnAnotherThread([&]() UMX_NO_THREAD_SAFETY_ANALYSIS {
    std::vector<bool> taken;
    for (const auto& attempt : kAttempts) {
      taken.push_back(attempt(mutex));
      if (!taken.back()) continue;
      EXPECT_EQ(StateOf(mutex), MutexState(1, GetCurrentThreadId()));
      mutex.Unlock();
    }
    return taken;
  });
}

TEST(FXMutex, HoldsAndOwnerFollowEveryStepAndShutOutOtherThreads) {
  FXMutex mutex;
  auto expectHolds = [&mutex, self = GetCurrentThreadId()](int nHolds) {
    SCOPED_TRACE(testing::Message() << nHolds << " holds");
    const MutexState state(nHolds, nHolds > 0 ? self : 0);
    EXPECT_EQ(StateOf(mutex), state);
    EXPECT_EQ(AttemptsFromAnotherThread(mutex), std::vector<bool>(kAttempts.size(), nHolds == 0));
    EXPECT_EQ(StateOf(mutex), state);
  };
  expectHolds(0);
  Acquire(mutex);
  expectHolds(1);
  for (size_t i = 0; i < kAttempts.size(); ++i) {
    EXPECT_TRUE(kAttempts[i](mutex));
    expectHolds(static_cast<int>(i) + 2);
  }
  for (int nHolds = static_cast<int>(kAttempts.size()); nHolds >= 0; --nHolds) {
    Release(mutex);
    expectHolds(nHolds);
  }
}

// ThreadSanitizer would report the system's own refusal, so the probe refuses.
TEST(FXMutex, UnlockingAFreeMutexStillAsksTheSystemAndChangesNothing) {
  FXMutex mutex;
  t_unlockResults.clear();
  t_bRefuseUnlocks = true;
  Release(mutex);
  t_bRefuseUnlocks = false;
  EXPECT_EQ(t_unlockResults, std::vector<int>{EPERM});
  EXPECT_EQ(StateOf(mutex), MutexState(0, 0));
}

// This thread unlocks while another holds: the system refuses, and the
// holder's bookkeeping stays as it was for the holder to release as usual.
TEST(FXMutex, UnlockByANonHolderLeavesTheHoldersBookkeeping) {
  FXMutex mutex;
  umx_test::Latch held(1);
  umx_test::Latch tried(1);
  std::thread holder([&] {
    Acquire(mutex);
    held.CountDown();
    tried.Wait();
    EXPECT_EQ(StateOf(mutex), MutexState(1, GetCurrentThreadId()));
    t_unlockResults.clear();
    Release(mutex);
    EXPECT_EQ(t_unlockResults, std::vector<int>{0});
    EXPECT_EQ(StateOf(mutex), MutexState(0, 0));
  });
  held.Wait();
  t_unlockResults.clear();
  UnlockAsNonHolder(mutex);
  EXPECT_EQ(t_unlockResults, std::vector<int>{EPERM});
  tried.CountDown();
  holder.join();
}

TEST(FXMutex, DestructionReleasesEveryHoldOfTheDestroyingThread) {
  for (int nHolds : {0, 1, 3}) {
    std::optional<FXMutex> mutex(std::in_place);
    for (int i = 0; i < nHolds; ++i)
      Acquire(*mutex);
    t_unlockResults.clear();
    mutex.reset();
    EXPECT_EQ(t_unlockResults, std::vector<int>(nHolds, 0)) << nHolds << " holds";
  }
}

TEST(FXMutex, AssertHeldPassesForTheHolderAndStopsAnyOtherCaller) {
  FXMutex mutex;
  EXPECT_DEATH(mutex.AssertHeld(), "the calling thread does not hold the lock");
  Acquire(mutex);
  mutex.AssertHeld();
  Release(mutex);
  EXPECT_DEATH(mutex.AssertHeld(), "the calling thread does not hold the lock");
}

// Counts the calls a guard makes; acquires nothing.
class CountingResource : public FXLockableResource {
 public:
  bool TryLock() override { return true; }
  bool TryLock(CTimeInterval interval) override { return FXLockableResource::TryLock(interval); }
  void Lock() override { ++locks; }
  void Unlock() override { ++unlocks; }
  int locks = 0;
  int unlocks = 0;
};

TEST(AutoLock, TakesAtMostOnceAndReleasesOnlyWhatItTook) {
  struct {
    const char* name;
    bool bNull, bLockNow;
    const char* ops;  // 'L' for Lock(), 'U' for Unlock()
    int locks, unlocks;
  } const cases[] = {
      {"deferred, unlock does nothing", false, false, "U", 0, 0},
      {"deferred, then locked", false, false, "L", 1, 0},
      {"double lock takes once", false, true, "L", 1, 0},
      {"double unlock releases once", false, true, "UU", 1, 1},
      {"relocks after unlock", false, true, "UL", 2, 1},
      {"null resource", true, true, "LUL", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CountingResource resource;
    {
      auto_lock guard(c.bNull ? nullptr : &resource, c.bLockNow);
      [&]() UMX_NO_THREAD_SAFETY_ANALYSIS {
        for (const char* op = c.ops; *op != '\0'; ++op)
          *op == 'L' ? guard.Lock() : guard.Unlock();
      }();
      EXPECT_EQ(std::make_pair(resource.locks, resource.unlocks),
                std::make_pair(c.locks, c.unlocks));
      EXPECT_EQ(guard.IsHeld(), c.locks > c.unlocks);
    }
    EXPECT_EQ(resource.unlocks, resource.locks);
  }
}

}  // namespace
