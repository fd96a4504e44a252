#include "Pool.h"

#include <utility>

namespace AgentCheck {

WorkerPool::WorkerPool(std::size_t nItems, int nJobs, std::function<void(std::size_t)> work)
    : m_work(std::move(work)), m_done(nItems, false) {
  m_threads.reserve(static_cast<std::size_t>(nJobs));
  for (int i = 0; i < nJobs; ++i)
    m_threads.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() {
  for (std::thread& thread : m_threads)
    thread.join();
}

void WorkerPool::Work() {
  for (;;) {
    std::size_t i = 0;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_nNext == m_done.size()) return;
      i = m_nNext++;
    }
    m_work(i);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done[i] = true;
    ++m_nDone;
    m_changed.notify_all();
  }
}

void WorkerPool::WaitFor(std::size_t i) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this, i] { return m_done[i]; });
}

std::size_t WorkerPool::DoneCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nDone;
}

}  // namespace AgentCheck
