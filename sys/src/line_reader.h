// A buffered reader of lines over a file descriptor it owns. The socket
// reader of a connection and the MCP server's standard input both use it.
#pragma once

#include <cstddef>
#include <expected>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "deadline.h"
#include "unique_fd.h"

namespace elmpad {

inline constexpr std::size_t kReaderBufferSize = 8192;

class LineReader {
 public:
  LineReader() = default;
  explicit LineReader(UniqueFd fd)
      : fd_(std::move(fd)), buffer_(new char[kReaderBufferSize]), capacity_(kReaderBufferSize) {}

  /// Appends to `line` the bytes up to and including the next line feed, or
  /// up to the end of the stream; no limit on length. Returns the number of
  /// bytes appended (0 at end of stream), or the errno of a failed read.
  /// Bytes read past the line stay for the next call. Short lines are served
  /// from the buffer; once a line is longer than it, the rest is read
  /// straight into `line` in pieces that grow with it. With a `limit`, a
  /// line that has outgrown it without its line feed fails with EMSGSIZE.
  SysResult<std::size_t> read_line(std::string& line, std::size_t limit = std::numeric_limits<std::size_t>::max());

  /// From now on a read that would block waits for bytes until `deadline`,
  /// then fails with ETIMEDOUT. The descriptor must be non-blocking.
  void set_deadline(Deadline deadline) { deadline_ = deadline; }
  [[nodiscard]] std::optional<Deadline> deadline() const { return deadline_; }

  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;  // kReaderBufferSize, or more to hold what a long read left over
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::optional<Deadline> deadline_;
};

}  // namespace elmpad
