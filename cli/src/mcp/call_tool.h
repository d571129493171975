// Running one tools/call: the dispatch table, the argument rules, the shape
// of tool results, and the one-request exchange every tool makes with the
// application.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "app/exchange.h"
#include "app/run_err.h"
#include "app/unique_fd.h"
#include "json_text.h"
#include "request.h"

namespace elmpad::mcp {

/// A malformed call, answered as a JSON-RPC error.
struct ProtocolError {
  std::int64_t code = 0;
  std::string message;
  friend bool operator==(const ProtocolError&, const ProtocolError&) = default;
};

inline constexpr std::int64_t kInvalidParams = -32602;

/// A tool result as the compact JSON text of its object. The application's
/// data, when passed on, is spliced in as checked text and printed only as
/// the reply is written: a large payload is never held as a tree, nor as a
/// second copy.
using ToolResult = SplicedText;

/// A tool result (success or isError) or a protocol error.
using ToolOutcome = std::variant<ToolResult, ProtocolError>;

/// Attaches the session if it can, checks the arguments, runs the tool.
ToolOutcome call_tool(std::string_view name, const json& arguments);

/// {"content":[{"text":<payload as compact JSON>,"type":"text"}]}
ToolResult tool_ok(Payload payload);
/// The same around the error envelope of `err`, with "isError":true.
ToolResult tool_err(const RunErr& err);
/// The failure for an answer with ok false: the application's code and its
/// error as JSON text, or `fallback` and "request failed" without one.
RunErr remote_err(const std::optional<json>& error, std::string_view fallback);
/// `path` made absolute against the current directory; "NO_CWD".
Result<std::string> resolve(std::string_view path);

/// Sends `command` as request 1 (with the attached session) over `socket`
/// and reads its answer, keeping its data as text. With `cancellable`, the
/// connection is first left in the in-flight record so that a cancellation
/// can end the wait.
Result<PassedAnswer> ask_app(UniqueFd socket, Cmd command, bool cancellable = false);

}  // namespace elmpad::mcp
