#include "mcp/wait_tools.h"

#include "mcp/ask_app.h"
#include "mcp/target_path.h"

namespace elmpad::mcp {

Result<Payload> wait_for_change(const WaitArgs& args, CallControl& control) {
  cmd::WaitForChange command;
  if (args.path) {
    auto text = target_path(*args.path, TargetKind::kNote);
    if (!text) return std::unexpected(std::move(text).error());
    command.path = std::move(*text);
  }
  if (args.workspace) {
    auto text = target_path(*args.workspace, TargetKind::kFolder);
    if (!text) return std::unexpected(std::move(text).error());
    command.workspace = std::move(*text);
  }
  command.name = args.name;
  command.timeout_secs = args.timeout_seconds;
  return ask_app({.command = std::move(command),
                  .if_not_running = RunErr{"NOT_RUNNING",
                                           "Elmwrite is not running \u2014 wait_for_change needs the app's file "
                                           "watcher and sidebar; poll with your own tools instead"},
                  .refused_code = "WAIT_FAILED",
                  .if_no_data = json{{"changed", false}, {"timedOut", true}},
                  .control = &control,
                  .if_cancelled = json{{"cancelled", true}, {"changed", false}, {"source", "cancelled"}}});
}

Result<Payload> post_message(const std::string& text) {
  const json not_delivered{{"delivered", false}, {"ok", true}};
  return ask_app({.command = cmd::PostMessage{text},
                  .if_not_running = not_delivered,
                  .if_refused = not_delivered,
                  .if_no_data = json{{"delivered", true}, {"ok", true}}});
}

}  // namespace elmpad::mcp
