#include "mcp/tool_runner.h"

#include "mcp/in_flight.h"
#include "mcp/progress_ticker.h"
#include "mcp/tool_table.h"

namespace elmpad::mcp {

std::optional<ToolOutcome> run_tool_call(const ToolCall& call, std::uint64_t line, std::chrono::milliseconds interval,
                                         const ProgressWriter& write_progress, TaskStore* tasks) {
  const Revision& revision = *call.revision;
  InFlightScope in_flight(call.id, line, revision.cancellation_silences);
  // Cancelled while it waited in the queue: no work, no reply.
  if (in_flight.cancelled_before_start()) return std::nullopt;
  auto prepared = prepare_tool(call.name, call.arguments, revision);
  if (!prepared) return std::move(prepared).error();
  if (call.may_run_as_task && prepared->long_running() && tasks != nullptr) {
    auto started = tasks->start(std::move(*prepared));
    if (!started) return tool_err(started.error());
    return std::move(*started);
  }
  // Output stays one writer at a time: while the tool runs only the ticker
  // writes, and the ticker has stopped, its last line written, before the
  // reply is.
  std::optional<ProgressTicker> ticker;
  if (call.progress_token && prepared->long_running()) {
    ticker.emplace(interval, [&](std::uint64_t n) {
      // A cancelled call hears nothing more where its revision silences it.
      if (revision.cancellation_silences && was_cancelled()) return false;
      return write_progress(progress_line(*call.progress_token, n, interval, prepared->progress()));
    });
  }
  InFlightControl control;
  ToolResult result = prepared->run(control);
  ticker.reset();
  if (revision.cancellation_silences && was_cancelled()) return std::nullopt;
  return result;
}

}  // namespace elmpad::mcp
