// The reading of the application's answers on a connection: server messages
// until the answer to one request, or the event about it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <variant>

#include "json_text.h"
#include "line_reader.h"
#include "outcome.h"
#include "raw_json.h"
#include "run_err.h"
#include "server_msg.h"

namespace elmpad {

/// A value passed on as it came from the application: checked text, or a
/// tree where the line had to be parsed.
using Payload = std::variant<json, RawJson>;

/// The application's answer to one request. The data of an ok answer is
/// kept as the text it came in wherever it can be (a large answer is then
/// never parsed into a tree); a refusal's error is {"code","params"}.
struct Answer {
  bool ok = false;
  std::optional<Payload> data;  // ok: absent when the answer has no data
  std::optional<json> error;    // refused: absent when the app gave no reason
};

/// `payload` as a tree, for a caller that reads the data rather than passing
/// it on.
[[nodiscard]] json as_tree(Payload payload);

/// Reads the next line as it came into `line`, replacing its contents.
/// "SOCKET_ERROR" when the read fails or the line outgrows `limit`,
/// "CHANNEL_CLOSED" at end of stream.
Result<void> next_line(LineReader& reader, std::string& line,
                       std::size_t limit = std::numeric_limits<std::size_t>::max());

/// Reads until the Response carrying `id`, skipping events and other ids,
/// reading each line into `storage` (whose capacity is then reused).
/// "SOCKET_ERROR" on a failed read or bytes that are not UTF-8,
/// "CHANNEL_CLOSED" at end of stream, "PROTO_ERROR" on a line that is no
/// server message.
Result<Answer> read_answer(LineReader& reader, std::uint64_t id, std::string storage = {});

/// Reads until the Event for request 1; no outcome counts as done. Fails as
/// read_answer.
Result<Outcome> read_event(LineReader& reader);

}  // namespace elmpad
