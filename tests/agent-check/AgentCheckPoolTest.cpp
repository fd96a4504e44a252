// The agent check's worker pool: every scenario runs once, however many
// workers there are, and whoever prints can wait for each in turn.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "Pool.h"

namespace {

using AgentCheck::WorkerPool;

class AgentCheckPool : public ::testing::TestWithParam<int> {};

TEST_P(AgentCheckPool, RunsEachItemOnceAndWaitsForEachInTurn) {
  constexpr std::size_t kItems = 64;
  std::vector<std::atomic<int>> runs(kItems);
  std::vector<int> seen;
  {
    WorkerPool pool(kItems, GetParam(), [&runs](std::size_t i) { ++runs[i]; });
    for (std::size_t i = 0; i < kItems; ++i) {
      pool.WaitFor(i);
      seen.push_back(runs[i].load());
    }
    EXPECT_EQ(pool.DoneCount(), kItems);
  }
  EXPECT_EQ(seen, std::vector<int>(kItems, 1));
}

TEST_P(AgentCheckPool, ALaterItemCanFinishFirstWithoutBeingWaitedForOutOfTurn) {
  if (GetParam() < 2) GTEST_SKIP() << "needs two workers";
  // Item 0 is held until item 1 is done: the pool must not need 0 done to
  // run 1, and WaitFor(1) returns while 0 still runs.
  std::mutex mutex;
  std::condition_variable changed;
  bool bSecondDone = false;
  bool bRelease = false;
  WorkerPool pool(2, GetParam(), [&](std::size_t i) {
    std::unique_lock<std::mutex> lock(mutex);
    if (i == 1) {
      bSecondDone = true;
      changed.notify_all();
    } else {
      changed.wait(lock, [&] { return bRelease; });
    }
  });
  pool.WaitFor(1);
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(bSecondDone);
    bRelease = true;
  }
  changed.notify_all();
  pool.WaitFor(0);
}

INSTANTIATE_TEST_SUITE_P(Workers, AgentCheckPool, ::testing::Values(1, 2, 8),
                         [](const ::testing::TestParamInfo<int>& workers) {
                           return std::to_string(workers.param);
                         });

}  // namespace
