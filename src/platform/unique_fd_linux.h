#ifndef QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_
#define QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_

#include <unistd.h>

#include <utility>

namespace quillaro {

// Owns one file descriptor and closes it on destruction. Move-only.
// close() is never retried: on Linux the descriptor is gone after the first
// call whatever it returns.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    int old = std::exchange(fd_, fd);
    if (old >= 0) ::close(old);
  }

 private:
  int fd_;
};

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_UNIQUE_FD_LINUX_H_
