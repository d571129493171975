#include "wake_pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "sys_error.h"

namespace elmpad::headless {

Result<WakePipe> WakePipe::make() {
  int ends[2];
  if (::pipe(ends) != 0) return std::unexpected(sys_error("PIPE_ERROR", "pipe", errno));
  WakePipe pipe;
  pipe.read_.reset(ends[0]);
  pipe.write_.reset(ends[1]);
  for (int end : ends) {
    set_cloexec(end);
    ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
  }
  return pipe;
}

void WakePipe::poke() {
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(write_.get(), &byte, 1);  // a full pipe is awake already
}

void WakePipe::drain() {
  char buf[256];
  while (::read(read_.get(), buf, sizeof buf) > 0) {
  }
}

}  // namespace elmpad::headless
