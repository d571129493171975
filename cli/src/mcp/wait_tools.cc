#include "mcp/wait_tools.h"

#include "app/path_text.h"
#include "mcp/call_tool.h"
#include "mcp/in_flight.h"
#include "mcp/session.h"

namespace elmpad::mcp {

Result<Payload> wait_for_change(const WaitArgs& args) {
  cmd::WaitForChange command;
  if (args.path) {
    auto resolved = resolve(*args.path);
    if (!resolved) return std::unexpected(std::move(resolved).error());
    std::string text = path_text(*resolved);
    if (file_kind(*resolved) == FileKind::kDirectory) return fail_with("PATH_IS_DIRECTORY", text);
    command.path = std::move(text);
  }
  if (args.workspace) {
    auto resolved = resolve(*args.workspace);
    if (!resolved) return std::unexpected(std::move(resolved).error());
    std::string text = path_text(*resolved);
    if (file_kind(*resolved) != FileKind::kDirectory) return fail_with("NOT_A_DIRECTORY", text);
    command.workspace = std::move(text);
  }
  command.name = args.name;
  command.timeout_secs = args.timeout_seconds;

  auto socket = connect_only();
  if (!socket) return std::unexpected(std::move(socket).error());
  if (!*socket) {
    return fail_with("NOT_RUNNING",
                     "Elmwrite is not running \u2014 wait_for_change needs the app's file watcher and sidebar; "
                     "poll with your own tools instead");
  }
  auto answer = ask_app(std::move(**socket), std::move(command), /*cancellable=*/true);
  if (!answer) {
    // A cancellation shuts the connection down, so it surfaces as a failed
    // read (or, when it lands before the request went out, a failed send).
    if (was_cancelled()) return json{{"cancelled", true}, {"changed", false}, {"source", "cancelled"}};
    return std::unexpected(std::move(answer).error());
  }
  if (!answer->ok) return std::unexpected(remote_err(answer->error, "WAIT_FAILED"));
  if (!answer->data) return json{{"changed", false}, {"timedOut", true}};
  return std::move(*answer->data);
}

Result<Payload> post_message(const std::string& text) {
  const json not_delivered{{"delivered", false}, {"ok", true}};
  auto socket = connect_only();
  if (!socket) return std::unexpected(std::move(socket).error());
  if (!*socket) return not_delivered;
  auto answer = ask_app(std::move(**socket), cmd::PostMessage{text});
  if (!answer) return std::unexpected(std::move(answer).error());
  if (!answer->ok) return not_delivered;
  if (!answer->data) return json{{"delivered", true}, {"ok", true}};
  return std::move(*answer->data);
}

}  // namespace elmpad::mcp
