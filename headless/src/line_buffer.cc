#include "line_buffer.h"

namespace elmpad::headless {

void LineBuffer::append(std::string_view bytes) {
  // Lines already handed out go first, so the buffer holds one line's worth;
  // what moves is only what arrived after the last line feed.
  if (start_ > 0) {
    buf_.erase(0, start_);
    start_ = 0;
  }
  buf_.append(bytes);
}

std::optional<std::string_view> LineBuffer::next() {
  std::size_t nl = buf_.find('\n', start_ + scanned_);
  if (nl == std::string::npos) {
    scanned_ = buf_.size() - start_;
    return std::nullopt;
  }
  std::string_view line(buf_.data() + start_, nl - start_);
  start_ = nl + 1;
  scanned_ = 0;
  return line;
}

std::optional<std::string_view> LineBuffer::rest() {
  if (pending() == 0) return std::nullopt;
  std::string_view line(buf_.data() + start_, pending());
  start_ = buf_.size();
  scanned_ = 0;
  return line;
}

}  // namespace elmpad::headless
