#include "cli/reveal_command.h"

#include "app/exchange.h"
#include "app/launch.h"
#include "cli/output.h"
#include "app/path_text.h"
#include "utf8.h"

namespace elmpad {

int reveal(const std::string& file, const std::optional<std::string>& heading, bool json_output) {
  auto cwd = current_dir();
  if (!cwd) {
    fail(json_output, cwd.error());
    return 1;
  }
  const std::string path = absolute_path(*cwd, file);
  if (file_kind(path) == FileKind::kDirectory) {
    print_err("elmpad: '" + file + "' is a directory\n");
    return 2;
  }

  auto app = connect_or_launch_app();
  if (!app) {
    fail(json_output, app.error());
    return 1;
  }
  Connection& conn = app->conn;
  const std::string text = path_text(path);
  // The heading is passed through for the app to match; one typed with bytes
  // that are not UTF-8 is converted like a path rather than refused.
  std::optional<std::string> heading_text;
  if (heading) heading_text = utf8_lossy(*heading);
  if (auto sent = send(conn.socket.get(), Request{.id = 1, .cmd = cmd::Reveal{text, heading_text}}); !sent) {
    fail(json_output, sent.error());
    return 1;
  }
  if (!app->launched) perform_activation(kAppName);
  auto answer = read_response(conn.reader, 1);
  if (!answer) {
    fail(json_output, answer.error());
    return 1;
  }
  if (answer->ok) {
    if (json_output) print_success(json{{"revealed", text}});
    return 0;
  }
  const json* code = nullptr;
  if (answer->payload && answer->payload->is_object()) {
    if (auto it = answer->payload->find("code"); it != answer->payload->end()) code = &*it;
  }
  if (code != nullptr && code->is_string() && code->get_ref<const std::string&>() == "HEADING_NOT_FOUND") {
    fail(json_output, RunErr{"HEADING_NOT_FOUND", "heading not found: '" + heading.value_or("") +
                                                      "' (file opened, viewport unchanged)"});
    return 1;
  }
  fail(json_output, RunErr{"REVEAL_FAILED", answer->payload ? compact(*answer->payload) : "reveal failed"});
  return 1;
}

}  // namespace elmpad
