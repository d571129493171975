// The table of tools the server runs, with what each one is and does, and
// the way one tools/call goes through it: prepare (session, name,
// arguments), then run.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

#include "json_text.h"
#include "mcp/call_control.h"
#include "mcp/progress_ticker.h"
#include "mcp/revision.h"
#include "mcp/tool_result.h"

namespace elmpad::mcp {

/// A tool whose arguments passed: running it acts (file system, app).
class PreparedTool {
 public:
  PreparedTool(std::function<Result<Payload>(CallControl&)> run, const Revision& revision, bool long_running,
               ProgressPlan progress)
      : run_(std::move(run)), revision_(&revision), long_running_(long_running), progress_(std::move(progress)) {}

  /// Blocks until something happens (up to minutes): it reports progress,
  /// and a cancellation can end it while it runs.
  [[nodiscard]] bool long_running() const { return long_running_; }
  [[nodiscard]] const ProgressPlan& progress() const { return progress_; }
  /// Runs the tool; its payload or failure shaped as the revision's result.
  /// A long call offers its connection to `control`.
  [[nodiscard]] ToolResult run(CallControl& control) const;

 private:
  std::function<Result<Payload>(CallControl&)> run_;
  const Revision* revision_;
  bool long_running_;
  ProgressPlan progress_;
};

/// Attaches the session if it can, finds the tool and checks its arguments,
/// before anything is touched. An unknown tool is a protocol error; so are
/// wrong arguments, unless the revision makes them a result with isError.
[[nodiscard]] std::expected<PreparedTool, ToolOutcome> prepare_tool(std::string_view name, const json& arguments,
                                                                    const Revision& revision);

/// prepare_tool, then run, for a caller that needs nothing in between.
[[nodiscard]] ToolOutcome call_tool(std::string_view name, const json& arguments,
                                    const Revision& revision = kHandshakeEra);

/// The tools a revision lists, in offering order: the handshake era's
/// catalogue as it is, or with every tool's title, annotations and output
/// schema.
[[nodiscard]] json tool_list(const Revision& revision);

}  // namespace elmpad::mcp
