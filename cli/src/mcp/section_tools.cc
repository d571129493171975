#include "mcp/section_tools.h"

#include "app/path_text.h"
#include "mcp/call_tool.h"
#include "mcp/session.h"

namespace elmpad::mcp {

Result<Payload> section_request(const std::string& path, const std::optional<std::string>& heading,
                                const std::optional<WriteBundle>& write) {
  auto resolved = resolve(path);
  if (!resolved) return std::unexpected(std::move(resolved).error());
  std::string text = path_text(*resolved);
  if (file_kind(*resolved) == FileKind::kDirectory) return fail_with("PATH_IS_DIRECTORY", text);
  auto socket = connect_only();
  if (!socket) return std::unexpected(std::move(socket).error());
  if (!*socket) {
    return fail_with("NOT_RUNNING",
                     "Elmwrite is not running \u2014 the live buffer only exists app-side; edit the file with "
                     "your own tools instead");
  }
  Cmd command = write ? Cmd{cmd::WriteSection{text, heading, write->operation, write->content, write->base_hash}}
                      : Cmd{cmd::ReadSection{text, heading}};
  auto answer = ask_app(std::move(**socket), std::move(command));
  if (!answer) return std::unexpected(std::move(answer).error());
  if (!answer->ok) return std::unexpected(remote_err(answer->error, write ? "WRITE_FAILED" : "READ_FAILED"));
  if (!answer->data) return json{{"ok", true}};
  return std::move(*answer->data);
}

}  // namespace elmpad::mcp
