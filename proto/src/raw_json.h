// One JSON value kept as the text it came in, with that text's index: the
// application's large answers are passed on this way, never built as a tree.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "json_index.h"
#include "json_print.h"

namespace elmpad {

/// One JSON value with the text that holds it, as the application sent it.
class RawJson {
 public:
  RawJson(std::string text, JsonIndex index, JsonIndex::NodeId node)
      : text_(std::move(text)), index_(std::move(index)), node_(node) {}

  [[nodiscard]] bool is_object() const { return index_.kind(node_) == JsonIndex::Kind::kObject; }
  /// Sets member `key` of this object (which it must be) to a compact JSON
  /// text, replacing the member the text has under that key.
  void set_member(std::string key, std::string compact_value) {
    extra_key_ = std::move(key);
    extra_value_ = std::move(compact_value);
  }
  /// Gives up the text, for its storage to be reused.
  std::string release_text() && { return std::move(text_); }
  /// See print_compact and append_compact.
  void print(TextSink& sink, bool as_string_contents, std::size_t& used) const;
  void append_compact(std::string& out, bool as_string_contents) const;

 private:
  std::string text_;
  JsonIndex index_;
  JsonIndex::NodeId node_;
  std::optional<std::string> extra_key_;
  std::string extra_value_;
};

}  // namespace elmpad
