// One JSON value kept as the text it came in, with that text's index: the
// application's large answers are passed on this way, never built as a tree.
#pragma once

#include <string>
#include <utility>

#include "json_index.h"
#include "json_print.h"
#include "json_text.h"

namespace elmpad {

/// One JSON value with the text that holds it, as the application sent it.
class RawJson {
 public:
  RawJson(std::string text, JsonIndex index, JsonIndex::NodeId node)
      : text_(std::move(text)), index_(std::move(index)), node_(node) {}

  [[nodiscard]] bool is_object() const { return index_.kind(node_) == JsonIndex::Kind::kObject; }
  /// The value as a tree, for a caller that reads or changes it.
  [[nodiscard]] json tree() const;
  /// Gives up the text, for its storage to be reused.
  std::string release_text() && { return std::move(text_); }
  /// See print_compact and append_compact.
  void print(TextSink& sink, bool as_string_contents, std::size_t& used) const {
    print_compact(index_, text_, node_, sink, as_string_contents, used);
  }
  void append_compact(std::string& out, bool as_string_contents) const {
    elmpad::append_compact(index_, text_, node_, out, as_string_contents);
  }

 private:
  std::string text_;
  JsonIndex index_;
  JsonIndex::NodeId node_;
};

}  // namespace elmpad
