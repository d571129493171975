// One exchange with the application over a Connection: write a request line,
// read server messages until the awaited answer or event.
#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include "connection.h"
#include "json_text.h"
#include "outcome.h"
#include "raw_json.h"
#include "request.h"
#include "run_err.h"
#include "server_msg.h"

namespace elmpad {

/// What read_response hands back: the ok flag and the payload, which is the
/// data on success, or {"code","params"} built from the error on refusal.
struct Answer {
  bool ok = false;
  std::optional<json> payload;
};

/// A value passed on as it came from the application: checked text, or a
/// tree where the line had to be parsed.
using Payload = std::variant<json, RawJson>;

/// What read_response_passed hands back, for callers that pass the data on
/// rather than read it: an ok answer's data as a Payload (large answers are
/// then never parsed into a tree), a refusal as read_response gives it.
struct PassedAnswer {
  bool ok = false;
  std::optional<Payload> data;  // ok: absent when the answer has no data
  std::optional<json> error;    // refused: {"code","params"} when it came
};

/// Writes `request` as one line on `socket`. "PROTO_ERROR" if it cannot be
/// encoded, "SOCKET_ERROR" if the write fails (a closed peer included).
Result<void> send(int socket, const Request& request);

/// Reads and decodes one line. "SOCKET_ERROR" on a failed read or bytes that
/// are not UTF-8, "CHANNEL_CLOSED" at end of stream, "PROTO_ERROR" otherwise.
Result<ServerMsg> next_msg(LineReader& reader);

/// Reads until the Response carrying `id`, skipping events and other ids.
Result<Answer> read_response(LineReader& reader, std::uint64_t id);

/// read_response, with the data of an ok answer kept as text. Same reading,
/// same failures.
Result<PassedAnswer> read_response_passed(LineReader& reader, std::uint64_t id);

/// Reads until the Event for request 1; no outcome counts as done.
Result<Outcome> read_event(LineReader& reader);

}  // namespace elmpad
