// Splits the bytes a client sends into lines, as they arrive: the
// connection's thread polls for events as well as requests, so it cannot
// block in a LineReader until a line ends. Each byte is searched for the
// line feed once, however the bytes arrive: a long line trickled in small
// pieces costs what its length costs, not its length times its pieces.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace elmpad::headless {

class LineBuffer {
 public:
  void append(std::string_view bytes);
  /// The next whole line without its line feed; valid until the next call.
  std::optional<std::string_view> next();
  /// At the end of the stream: the bytes after the last line feed, if any.
  std::optional<std::string_view> rest();
  /// Bytes of the line not yet ended.
  std::size_t pending() const { return buf_.size() - start_; }

 private:
  std::string buf_;
  std::size_t start_ = 0;    // first byte not yet handed out
  std::size_t scanned_ = 0;  // bytes from start_ on known to hold no line feed
};

}  // namespace elmpad::headless
