// The workers that run the scenarios: they only run, in the order of the
// scenarios, a given number at a time; whoever prints waits for each in
// turn.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace AgentCheck {

class WorkerPool {
 public:
  // Starts `nJobs` threads that call `work(i)` once for each i below
  // `nItems`, taking the lowest not yet taken.
  WorkerPool(std::size_t nItems, int nJobs, std::function<void(std::size_t)> work);
  // Waits for every call to return.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Blocks until `work(i)` has returned.
  void WaitFor(std::size_t i);
  // How many calls have returned.
  std::size_t DoneCount();

 private:
  void Work();

  const std::function<void(std::size_t)> m_work;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::size_t m_nNext = 0;   // guarded by m_mutex
  std::vector<bool> m_done;  // guarded by m_mutex
  std::size_t m_nDone = 0;   // guarded by m_mutex
  std::vector<std::thread> m_threads;
};

}  // namespace AgentCheck
