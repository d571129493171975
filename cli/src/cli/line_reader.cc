#include "cli/line_reader.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace elmpad {

std::expected<std::size_t, int> LineReader::read_line(std::string& line) {
  std::size_t appended = 0;
  while (true) {
    if (start_ == end_) {
      ssize_t n = ::read(fd_.get(), buffer_.get(), kReaderBufferSize);
      if (n < 0) {
        if (errno == EINTR) continue;
        return std::unexpected(errno);
      }
      if (n == 0) return appended;
      start_ = 0;
      end_ = static_cast<std::size_t>(n);
    }
    const char* begin = buffer_.get() + start_;
    std::size_t available = end_ - start_;
    const void* newline = std::memchr(begin, '\n', available);
    std::size_t take = newline ? static_cast<const char*>(newline) - begin + 1 : available;
    line.append(begin, take);
    start_ += take;
    appended += take;
    if (newline) return appended;
  }
}

}  // namespace elmpad
