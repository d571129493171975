#include "line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace elmpad {

SysResult<std::size_t> LineReader::read_line(std::string& line, std::size_t limit) {
  // Whether a failed read may be retried: after an interruption, or once
  // bytes are ready before the deadline.
  auto retry = [this](int err) -> SysResult<void> {
    if (err == EINTR) return {};
    if ((err != EAGAIN && err != EWOULDBLOCK) || !deadline_) return sys_fail(err);
    return wait_ready(fd_.get(), POLLIN, *deadline_);
  };
  std::size_t appended = 0;
  while (true) {
    if (start_ < end_) {
      const char* begin = buffer_.get() + start_;
      std::size_t available = end_ - start_;
      const void* newline = std::memchr(begin, '\n', available);
      std::size_t take = newline ? static_cast<const char*>(newline) - begin + 1 : available;
      line.append(begin, take);
      start_ += take;
      appended += take;
      if (newline) return appended;
      if (appended > limit) return sys_fail(EMSGSIZE);
    }
    start_ = end_ = 0;
    if (appended < kReaderBufferSize) {
      ssize_t n = ::read(fd_.get(), buffer_.get(), capacity_);
      if (n < 0) {
        if (auto again = retry(errno); !again) return sys_fail(again.error());
        continue;
      }
      if (n == 0) return appended;
      end_ = static_cast<std::size_t>(n);
      continue;
    }
    // A long line: read into it directly, filling its capacity and then
    // doubling it, so that its bytes are copied once and read in few calls.
    std::size_t old = line.size();
    std::size_t room = std::max(line.capacity() - old, std::max<std::size_t>(old, 64 * 1024));
    ssize_t n = 0;
    int err = 0;
    line.resize_and_overwrite(old + room, [&](char* p, std::size_t) {
      n = ::read(fd_.get(), p + old, room);
      err = errno;
      return old + static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    });
    if (n < 0) {
      if (auto again = retry(err); !again) return sys_fail(again.error());
      continue;
    }
    if (n == 0) return appended;
    const char* fresh = line.data() + old;
    const void* newline = std::memchr(fresh, '\n', static_cast<std::size_t>(n));
    if (newline == nullptr) {
      appended += static_cast<std::size_t>(n);
      if (appended > limit) return sys_fail(EMSGSIZE);
      continue;
    }
    // What came after the line feed belongs to the next line.
    std::size_t keep = static_cast<const char*>(newline) - fresh + 1;
    std::size_t rest = static_cast<std::size_t>(n) - keep;
    if (rest > capacity_) {
      buffer_.reset(new char[rest]);
      capacity_ = rest;
    }
    std::memcpy(buffer_.get(), fresh + keep, rest);
    end_ = rest;
    line.resize(old + keep);
    return appended + keep;
  }
}

}  // namespace elmpad
