// The table of tools the server runs, and call_tool, which runs one
// tools/call through it.
#pragma once

#include <string_view>

#include "json_text.h"
#include "mcp/tool_result.h"

namespace elmpad::mcp {

/// Attaches the session if it can, checks the arguments, runs the tool. An
/// unknown tool or a bad argument is a protocol error, decided before
/// anything is touched; the tool's own failures are results with isError.
[[nodiscard]] ToolOutcome call_tool(std::string_view name, const json& arguments);

}  // namespace elmpad::mcp
