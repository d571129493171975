#include "mcp/open_tools.h"

#include "app_client/version.h"
#include "mcp/ask_app.h"
#include "mcp/target_path.h"

namespace elmpad::mcp {

Result<json> open_or_reveal(const std::string& path, const std::optional<std::string>& heading, bool reveal) {
  auto text = target_path(path, TargetKind::kNote);
  if (!text) return std::unexpected(std::move(text).error());
  Cmd command = reveal ? Cmd{cmd::Reveal{*text, heading}} : Cmd{cmd::Open{*text, false, std::nullopt}};
  auto asked = ask_app({.command = std::move(command),
                        .if_not_running = LaunchApp{},
                        .refused_code = reveal ? "REVEAL_FAILED" : "OPEN_FAILED"});
  if (!asked) return std::unexpected(std::move(asked).error());
  if (reveal) return json{{"ok", true}, {"revealed", *text}, {"heading", heading ? json(*heading) : json(nullptr)}};
  return json{{"ok", true}, {"opened", *text}};
}

Result<json> open_folder(const std::string& path) {
  auto text = target_path(path, TargetKind::kFolder);
  if (!text) return std::unexpected(std::move(text).error());
  auto asked = ask_app(
      {.command = cmd::OpenFolder{*text}, .if_not_running = LaunchApp{}, .refused_code = "OPEN_FOLDER_FAILED"});
  if (!asked) return std::unexpected(std::move(asked).error());
  return json{{"folder", *text}, {"ok", true}};
}

Result<Payload> get_context() {
  auto context = ask_app({.command = cmd::GetContext{},
                          .if_not_running = json{{"running", false}, {"version", kVersion}},
                          .refused_code = "CONTEXT_FAILED",
                          .if_no_data = json{{"running", true}, {"version", kVersion}}});
  if (!context) return context;
  // The installed tool's version, whatever the app put there. A context is
  // a few names and paths, so it is changed as a tree: large answers, which
  // pass on as text, are other tools'.
  if (auto* raw = std::get_if<RawJson>(&*context); raw && raw->is_object()) *context = raw->tree();
  if (auto* tree = std::get_if<json>(&*context); tree && tree->is_object()) (*tree)["version"] = kVersion;
  return context;
}

Result<Payload> execute_command(const std::string& id) {
  return ask_app({.command = cmd::ExecuteCommand{id},
                  .if_not_running = RunErr{"NOT_RUNNING", "Elmwrite is not running \u2014 execute_command needs a live window"},
                  .refused_code = "EXECUTE_FAILED",
                  .if_no_data = json{{"ran", true}}});
}

}  // namespace elmpad::mcp
