// The tool's version: the single source for --version, the MCP server's
// serverInfo and the version added to get_context answers.
#pragma once

namespace elmpad {

inline constexpr const char* kVersion = "0.15.6";

}  // namespace elmpad
