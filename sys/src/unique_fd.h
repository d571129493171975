// Owning file descriptors and the two system-call loops every writer needs.
#pragma once

#include <string_view>
#include <utility>

#include "run_err.h"

namespace elmpad {

/// Owns one file descriptor and closes it on destruction. Move-only.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  /// Closes the old descriptor once; close is not retried on EINTR (the
  /// descriptor is gone either way on the platforms we run on).
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

/// Marks `fd` close-on-exec, so children such as `open` and `ps` never
/// inherit a connection (macOS cannot set it when the socket is made).
void set_cloexec(int fd);

/// A close-on-exec duplicate of `fd`.
SysResult<UniqueFd> dup_cloexec(int fd);

/// Writes every byte, continuing after partial writes and interruptions.
SysResult<void> write_all(int fd, std::string_view bytes);

}  // namespace elmpad
