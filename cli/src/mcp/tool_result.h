// What a tools/call comes to: a tool result (success or isError) shaped for
// the client, or a protocol error for a malformed call.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "app_client/exchange.h"
#include "json_text.h"
#include "mcp/spliced_text.h"
#include "run_err.h"

namespace elmpad::mcp {

/// A malformed call, answered as a JSON-RPC error.
struct ProtocolError {
  std::int64_t code = 0;
  std::string message;
  friend bool operator==(const ProtocolError&, const ProtocolError&) = default;
};

inline constexpr std::int64_t kInvalidParams = -32602;

/// A tool result object, still open for the members its revision adds. The
/// application's data, when passed on, is spliced in as checked text and
/// printed only as the reply is written: a large payload is never held as a
/// tree, nor as a second copy.
using ToolResult = ObjectText;

/// A tool result (success or isError) or a protocol error.
using ToolOutcome = std::variant<ToolResult, ProtocolError>;

/// {"content":[{"text":<payload as compact JSON>,"type":"text"}]}, and with
/// `structured` the payload itself as "structuredContent".
[[nodiscard]] ToolResult tool_ok(Payload payload, bool structured);
/// The same around the error envelope of `err`, with "isError":true.
[[nodiscard]] ToolResult tool_err(const RunErr& err);

}  // namespace elmpad::mcp
