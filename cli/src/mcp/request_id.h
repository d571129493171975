// JSON-RPC request ids: read from a line's index as the client wrote them,
// echoed in replies and compared when a cancellation names one.
#pragma once

#include <string>
#include <string_view>

#include "json_index.h"
#include "json_text.h"

namespace elmpad::mcp {

/// A JSON-RPC id as the client wrote it. The library reads a number into a
/// 64-bit integer or a double, which would round 123456789012345678901234567890
/// and respell 1e2, so a number id keeps its text: the reply echoes it, and
/// cancellation compares its exact value.
struct RequestId {
  RequestId(json id = nullptr) : value(std::move(id)) {}  // an id built in memory
  json value;
  std::string number_text;  // the number as written, when `value` is one; else empty

  /// The id as the client wrote it: the library would print a number it
  /// read in its own spelling (rounded beyond 64 bits, 1e2 as 100.0).
  [[nodiscard]] std::string text() const { return number_text.empty() ? compact(value) : number_text; }
};

/// The id that value `n` of the indexed `line` is.
[[nodiscard]] RequestId request_id_at(std::string_view line, const JsonIndex& index, JsonIndex::NodeId n);

/// JSON equality that also requires the same type: 1, 1.0 and "1" all
/// differ. The two integer kinds of the library (unsigned, signed) are one
/// type, compared by value.
[[nodiscard]] bool same_json(const json& a, const json& b);

/// Whether two ids name the same request: by same_json, except that numbers
/// compare by their exact written value (so 1e2 and 100.0 are one float,
/// while 1 and 1.0, or 2^70 and 2^70+1, differ).
[[nodiscard]] bool same_id(const RequestId& a, const RequestId& b);

}  // namespace elmpad::mcp
