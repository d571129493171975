#include "unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace elmpad {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

void set_cloexec(int fd) {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

SysResult<UniqueFd> dup_cloexec(int fd) {
  int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return sys_fail(errno);
  return UniqueFd(copy);
}

SysResult<void> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return sys_fail(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace elmpad
