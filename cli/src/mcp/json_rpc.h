// JSON-RPC 2.0 for the MCP server: the two response shapes and handle_line,
// which turns one incoming line into its reply. No threads, no stdio here;
// the server loop does the reading and writing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json_text.h"

namespace elmpad::mcp {

inline constexpr const char* kDefaultProtocolVersion = "2025-06-18";
inline constexpr std::int64_t kParseError = -32700;
inline constexpr std::int64_t kMethodNotFound = -32601;

/// {"id":…,"jsonrpc":"2.0","result":…}
json rpc_result(json id, json result);
/// {"error":{"code":…,"message":…},"id":…,"jsonrpc":"2.0"}
json rpc_error(json id, std::int64_t code, std::string message);

/// The compact text of the reply to one line (its line feed and carriage
/// return already removed), or nothing for blank lines and notifications. A
/// number id is echoed as the client wrote it. A tools/call runs the tool
/// here, marked in flight for its whole duration.
std::optional<std::string> handle_line(std::string_view line);

/// Whether `line` holds only Unicode white space (or nothing).
bool is_blank(std::string_view line);

}  // namespace elmpad::mcp
