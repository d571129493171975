// What the application writes back: a Response to a request, or an Event
// about one (such as the close of a waited-on tab). Untagged on the wire: a
// line is a Response if it fits one, else an Event if it fits one.
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json_text.h"
#include "outcome.h"
#include "raw_json.h"

namespace elmpad {

struct ErrorBody {
  std::string code;
  /// Named details; keys in byte order, a repeated key keeps its last value.
  std::map<std::string, std::string> params;
};

struct Response {
  std::uint64_t id = 0;
  bool ok = false;
  std::optional<json> data;        // null on the wire counts as absent
  std::optional<ErrorBody> error;  // likewise
};

struct Event {
  std::uint64_t id = 0;
  std::string event;
  std::optional<Outcome> outcome;
};

using ServerMsg = std::variant<Response, Event>;

/// The message that does not fit either record, worded as callers report it.
inline constexpr std::string_view kNoVariantMessage =
    "data did not match any variant of untagged enum ServerMsg";

/// Decodes one line (its line feed and surrounding whitespace allowed). Fails
/// with the parser's message for bad JSON, or kNoVariantMessage.
[[nodiscard]] std::expected<ServerMsg, std::string> decode_server_msg(std::string_view line);

/// A Response read without building a tree. Only the plain case is read
/// this way: an object with an unsigned "id", "ok" true and "error" absent
/// or null, as decode_server_msg would read it.
struct OkResponse {
  std::uint64_t id = 0;
  std::optional<JsonIndex::NodeId> data;  // absent or null: nullopt
};

/// The OkResponse `line` is, given its index; nullopt for every other line,
/// which is then decode_server_msg's to read.
[[nodiscard]] std::optional<OkResponse> ok_response(std::string_view line, const JsonIndex& index);

/// `error` as the JSON object callers report: {"code":…,"params":{…}}.
json error_body_json(const ErrorBody& error);

/// One line for the application's side of the socket, ending in "\n".
std::string encode_server_msg(const ServerMsg& msg);

}  // namespace elmpad
