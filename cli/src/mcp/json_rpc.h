// JSON-RPC 2.0 for the MCP server: the two response shapes and handle_line,
// which turns one incoming line into its reply. No threads, no stdio here;
// the server loop does the reading and writing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "json_text.h"
#include "mcp/in_flight.h"
#include "raw_json.h"

namespace elmpad::mcp {

inline constexpr const char* kDefaultProtocolVersion = "2025-06-18";
inline constexpr std::int64_t kParseError = -32700;
inline constexpr std::int64_t kMethodNotFound = -32601;

/// One reply line, without its line feed. A tool result's passed-on data
/// stays spliced in, to be printed as the line is written.
using Reply = SplicedText;

/// {"id":…,"jsonrpc":"2.0","result":…}, the result given as compact JSON text.
Reply rpc_result(const RequestId& id, SplicedText result);
/// {"error":{"code":…,"message":…},"id":…,"jsonrpc":"2.0"}
Reply rpc_error(const RequestId& id, std::int64_t code, std::string message);

/// The reply to one line (its line feed and carriage return already
/// removed), or nothing for blank lines and notifications. A number id is
/// echoed as the client wrote it. A tools/call runs the tool here, marked in
/// flight for its whole duration; `before_tool` runs just before, since a
/// tool may block for minutes.
std::optional<Reply> handle_line(std::string_view line, const std::function<void()>& before_tool = {});

/// The two ways handle_line answers a line that is not blank, apart so that
/// tests can hold them to the same replies. The quick way reads the common
/// lines (ping, initialize, tools/list, notifications) from the line's
/// checked text, and declines (nullopt) every line that needs the parser;
/// the careful way parses every line.
std::optional<std::optional<Reply>> quick_reply(std::string_view line);
std::optional<Reply> careful_reply(std::string_view line, const std::function<void()>& before_tool = {});

/// Whether `line` holds only Unicode white space (or nothing).
bool is_blank(std::string_view line);

}  // namespace elmpad::mcp
