#include "mcp/open_tools.h"

#include "app/launch.h"
#include "app/path_text.h"
#include "app/version.h"
#include "mcp/call_tool.h"
#include "mcp/session.h"

namespace elmpad::mcp {

Result<json> open_or_reveal(const std::string& path, const std::optional<std::string>& heading, bool reveal) {
  auto resolved = resolve(path);
  if (!resolved) return std::unexpected(std::move(resolved).error());
  std::string text = path_text(*resolved);
  if (file_kind(*resolved) == FileKind::kDirectory) return fail_with("PATH_IS_DIRECTORY", text);
  Cmd command = reveal ? Cmd{cmd::Reveal{text, heading}} : Cmd{cmd::Open{text, false, std::nullopt}};
  auto reached = connect_or_launch();
  if (!reached) return std::unexpected(std::move(reached).error());
  auto answer = ask_app(std::move(reached->socket), std::move(command));
  if (!answer) return std::unexpected(std::move(answer).error());
  if (!answer->ok) return std::unexpected(remote_err(answer->error, reveal ? "REVEAL_FAILED" : "OPEN_FAILED"));
  if (reveal) return json{{"ok", true}, {"revealed", text}, {"heading", heading ? json(*heading) : json(nullptr)}};
  return json{{"ok", true}, {"opened", text}};
}

Result<json> open_folder(const std::string& path) {
  auto resolved = resolve(path);
  if (!resolved) return std::unexpected(std::move(resolved).error());
  std::string text = path_text(*resolved);
  if (file_kind(*resolved) != FileKind::kDirectory) return fail_with("NOT_A_DIRECTORY", text);
  auto reached = connect_or_launch();
  if (!reached) return std::unexpected(std::move(reached).error());
  auto answer = ask_app(std::move(reached->socket), cmd::OpenFolder{text});
  if (!answer) return std::unexpected(std::move(answer).error());
  if (!answer->ok) return std::unexpected(remote_err(answer->error, "OPEN_FOLDER_FAILED"));
  return json{{"folder", text}, {"ok", true}};
}

Result<Payload> get_context() {
  auto socket = connect_only();
  if (!socket) return std::unexpected(std::move(socket).error());
  if (!*socket) return json{{"running", false}, {"version", kVersion}};
  auto answer = ask_app(std::move(**socket), cmd::GetContext{});
  if (!answer) return std::unexpected(std::move(answer).error());
  if (!answer->ok) return std::unexpected(remote_err(answer->error, "CONTEXT_FAILED"));
  // The installed tool's version, whatever the app put there.
  if (!answer->data) return json{{"running", true}, {"version", kVersion}};
  if (auto* context = std::get_if<RawJson>(&*answer->data)) {
    if (context->is_object()) context->set_member("version", compact(json(kVersion)));
  } else if (auto& tree = std::get<json>(*answer->data); tree.is_object()) {
    tree["version"] = kVersion;
  }
  return std::move(*answer->data);
}

Result<Payload> execute_command(const std::string& id) {
  auto socket = connect_only();
  if (!socket) return std::unexpected(std::move(socket).error());
  if (!*socket) return fail_with("NOT_RUNNING", "Elmwrite is not running \u2014 execute_command needs a live window");
  auto answer = ask_app(std::move(**socket), cmd::ExecuteCommand{id});
  if (!answer) return std::unexpected(std::move(answer).error());
  if (!answer->ok) return std::unexpected(remote_err(answer->error, "EXECUTE_FAILED"));
  if (!answer->data) return json{{"ran", true}};
  return std::move(*answer->data);
}

}  // namespace elmpad::mcp
