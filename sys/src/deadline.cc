#include "deadline.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace elmpad {

using Clock = std::chrono::steady_clock;

SysResult<void> set_nonblocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return sys_fail(errno);
  return {};
}

SysResult<void> wait_ready(int fd, short events, Deadline deadline) {
  while (true) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return sys_fail(ETIMEDOUT);
    pollfd ready{fd, events, 0};
    int n = ::poll(&ready, 1, static_cast<int>(left));
    if (n > 0) return {};
    if (n < 0 && errno != EINTR) return sys_fail(errno);
  }
}

SysResult<void> write_all_before(int fd, std::string_view bytes, Deadline deadline) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return sys_fail(errno);
    if (auto ready = wait_ready(fd, POLLOUT, deadline); !ready) return ready;
  }
  return {};
}

}  // namespace elmpad
