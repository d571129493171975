#include "mcp/spliced_text.h"

#include <algorithm>
#include <cstring>

namespace elmpad::mcp {

void SplicedText::print(TextSink& sink) const {
  // The head and tail go through the sink's buffer too, so that the whole
  // text leaves in as few pieces as its size allows.
  auto put = [&sink](std::string_view s, std::size_t& used) {
    while (!s.empty()) {
      if (used == sink.capacity()) {
        sink.drain(used);
        used = 0;
      }
      std::size_t k = std::min(s.size(), sink.capacity() - used);
      std::memcpy(sink.buffer() + used, s.data(), k);
      used += k;
      s.remove_prefix(k);
    }
  };
  std::size_t used = 0;
  put(head, used);
  if (value) value->print(sink, true, used);
  put(tail, used);
  sink.drain(used);
}

std::string SplicedText::text() const {
  std::string out = head;
  if (value) value->append_compact(out, true);
  return out + tail;
}

}  // namespace elmpad::mcp
