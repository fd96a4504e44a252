// Owners of the check's descriptors and directory streams, closed when they
// go.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <utility>

namespace AgentCheck {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : m_fd(fd) {}
  ~UniqueFd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      if (m_fd >= 0) ::close(m_fd);
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }

  int get() const { return m_fd; }
  // The descriptor, no longer owned.
  [[nodiscard]] int release() { return std::exchange(m_fd, -1); }

 private:
  int m_fd;
};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace AgentCheck
