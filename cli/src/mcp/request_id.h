// JSON-RPC request ids and progress tokens: read from a line's index as the
// client wrote them, echoed in replies and compared when a cancellation
// names one.
#pragma once

#include <string>
#include <string_view>

#include "json_index.h"
#include "json_text.h"

namespace elmpad::mcp {

/// A JSON-RPC id as the client wrote it: its compact text, keys in order and
/// every number, at any depth, spelled as written. The library would read a
/// number into a 64-bit integer or a double, rounding
/// 123456789012345678901234567890 and respelling 1e2.
class RequestId {
 public:
  RequestId() : text_("null") {}
  /// An id built in memory, printed as the library prints it.
  RequestId(const json& id) : text_(compact(id)) {}  // NOLINT: implicit, as ids are written in tests

  [[nodiscard]] const std::string& text() const { return text_; }
  [[nodiscard]] bool is_number() const { return !text_.empty() && (text_[0] == '-' || (text_[0] >= '0' && text_[0] <= '9')); }
  [[nodiscard]] bool is_string() const { return text_.starts_with('"'); }

 private:
  friend RequestId request_id_at(std::string_view line, const JsonIndex& index, JsonIndex::NodeId n);
  std::string text_;
};

/// The id that value `n` of the indexed `line` is.
[[nodiscard]] RequestId request_id_at(std::string_view line, const JsonIndex& index, JsonIndex::NodeId n);

/// Whether two ids name the same request: the same JSON at every depth,
/// numbers compared by their exact written value (so 1e2 and 100.0 are one
/// float, while 1 and 1.0, or 2^70 and 2^70+1, differ), strings by their
/// characters.
[[nodiscard]] bool same_id(const RequestId& a, const RequestId& b);

}  // namespace elmpad::mcp
