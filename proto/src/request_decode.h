// The application's side of the request record: one line in, a Request out,
// or a sentence saying what is wrong with it (and the request's id when the
// line had a usable one, so the refusal can still be paired with it).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "request.h"

namespace elmpad {

struct RequestError {
  std::optional<std::uint64_t> id;  // the line's id, when it had a valid one
  std::string message;              // e.g. "missing field `path` for read_section"
};

/// Decodes one request line (its line feed and surrounding whitespace
/// allowed). Keys the command does not know are ignored; a key given twice,
/// a missing required field, a field of the wrong type, an unknown command
/// or a protocol version other than 1 is an error.
[[nodiscard]] std::expected<Request, RequestError> decode_request(std::string_view line);

}  // namespace elmpad
