#include "mcp/spliced_text.h"

#include <algorithm>
#include <cstring>

#include "json_text.h"

namespace elmpad::mcp {

SplicedText::SplicedText(std::shared_ptr<RawJson> value, bool as_string_contents) {
  splices_.push_back({std::move(value), as_string_contents, ""});
}

SplicedText& SplicedText::operator+=(std::string_view text) {
  last_text() += text;
  return *this;
}

SplicedText& SplicedText::append(SplicedText other) {
  last_text() += other.head_;
  for (auto& splice : other.splices_) splices_.push_back(std::move(splice));
  return *this;
}

void SplicedText::print(TextSink& sink) const {
  // The texts go through the sink's buffer too, so that the whole reply
  // leaves in as few pieces as its size allows.
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
  put(head_, used);
  for (const auto& splice : splices_) {
    splice.value->print(sink, splice.as_string_contents, used);
    put(splice.after, used);
  }
  sink.drain(used);
}

std::string SplicedText::text() const {
  std::string out = head_;
  for (const auto& splice : splices_) {
    splice.value->append_compact(out, splice.as_string_contents);
    out += splice.after;
  }
  return out;
}

std::optional<std::string> SplicedText::release_value_text() && {
  if (splices_.empty()) return std::nullopt;
  std::shared_ptr<RawJson> value = std::move(splices_.front().value);
  splices_.clear();
  if (value.use_count() != 1) return std::nullopt;
  return std::move(*value).release_text();
}

ObjectText& ObjectText::set(std::string key, SplicedText value) {
  members_.insert_or_assign(std::move(key), std::move(value));
  return *this;
}

SplicedText ObjectText::text() const& { return ObjectText(*this).text(); }

SplicedText ObjectText::text() && {
  SplicedText out("{");
  bool first = true;
  for (auto& [key, value] : members_) {
    if (!first) out += ",";
    first = false;
    out += compact(json(key));
    out += ":";
    out.append(std::move(value));
  }
  out += "}";
  return out;
}

}  // namespace elmpad::mcp
