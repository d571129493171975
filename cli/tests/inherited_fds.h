// Descriptors the test process got from whoever ran it (ctest passes some
// on) would otherwise reach the program under test, and tests that count
// what that program may open need it to start with the standard streams only.
#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace elmpad::testing {

/// Marks every descriptor above the standard streams close-on-exec.
inline void keep_descriptors_from_children() {
  long max = ::sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  for (int fd = 3; fd < max; ++fd) {
    int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

}  // namespace elmpad::testing
