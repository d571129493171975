// One tools/call run as the server's main loop runs it, around the tool
// itself: in flight for cancellation, with progress while a long call
// blocks, and silenced when its revision says a cancelled call is.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "mcp/json_rpc.h"
#include "mcp/tasks.h"

namespace elmpad::mcp {

/// Writes one progress notification line (without its line feed); false
/// when output failed, which ends the progress.
using ProgressWriter = std::function<bool(const std::string& line)>;

/// Runs `call`, read as input line number `line`: nothing when it is to get
/// no reply. A long call that may run as a task starts in `tasks` (when
/// given) and is answered with its handle. Otherwise progress goes to
/// `write_progress` every `interval` while a long call with a progress token
/// blocks, and has stopped before this returns.
[[nodiscard]] std::optional<ToolOutcome> run_tool_call(const ToolCall& call, std::uint64_t line,
                                                       std::chrono::milliseconds interval,
                                                       const ProgressWriter& write_progress,
                                                       TaskStore* tasks = nullptr);

}  // namespace elmpad::mcp
