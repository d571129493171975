#include "mcp/section_tools.h"

#include "mcp/ask_app.h"
#include "mcp/target_path.h"

namespace elmpad::mcp {

Result<Payload> section_request(const std::string& path, const std::optional<std::string>& heading,
                                const std::optional<WriteBundle>& write) {
  auto text = target_path(path, TargetKind::kNote);
  if (!text) return std::unexpected(std::move(text).error());
  Cmd command = write ? Cmd{cmd::WriteSection{*text, heading, write->operation, write->content, write->base_hash}}
                      : Cmd{cmd::ReadSection{*text, heading}};
  return ask_app({.command = std::move(command),
                  .if_not_running = RunErr{"NOT_RUNNING",
                                           "Elmwrite is not running \u2014 the live buffer only exists app-side; "
                                           "edit the file with your own tools instead"},
                  .refused_code = write ? "WRITE_FAILED" : "READ_FAILED",
                  .if_no_data = json{{"ok", true}}});
}

}  // namespace elmpad::mcp
