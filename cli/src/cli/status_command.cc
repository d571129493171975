#include "cli/status_command.h"

#include "app/connection.h"
#include "app/exchange.h"
#include "cli/output.h"
#include "socket_path.h"

namespace elmpad {

int status_command(bool json_output) {
  auto home = home_dir();
  if (!home) {
    fail(json_output, home.error());
    return 1;
  }
  auto socket = connect_socket(socket_path(*home));
  if (!socket) {
    if (json_output) print_success(json{{"running", false}});
    else print_out("Elmwrite is not running\n");
    return 0;
  }
  auto conn = make_connection(std::move(*socket));
  if (!conn) {
    fail(json_output, conn.error());
    return 1;
  }
  if (auto sent = send(conn->socket.get(), Request{.cmd = cmd::Status{}}); !sent) {
    fail(json_output, sent.error());
    return 1;
  }
  // The cause of a failed read is not shown: a status that cannot be read is
  // simply a failed status.
  auto answer = read_response(conn->reader, 1);
  if (!answer || !answer->ok) {
    fail(json_output, RunErr{"STATUS_FAILED", "status request failed"});
    return 1;
  }
  json status = answer->payload.value_or(json{{"running", true}});
  if (json_output) print_success(std::move(status));
  else print_status_human(status);
  return 0;
}

void print_status_human(const json& status) {
  std::string out = "Elmwrite is running\n";
  if (status.is_object()) {
    auto text_member = [&status](const char* key) -> const json* {
      auto it = status.find(key);
      return it != status.end() && it->is_string() ? &*it : nullptr;
    };
    if (const json* folder = text_member("folder")) out += "folder: " + folder->get<std::string>() + "\n";
    if (const json* active = text_member("active")) out += "active: " + active->get<std::string>() + "\n";
    if (auto tabs = status.find("tabs"); tabs != status.end() && tabs->is_array()) {
      out += "tabs:\n";
      for (const auto& tab : *tabs) {
        if (tab.is_string()) out += "  " + tab.get<std::string>() + "\n";
      }
    }
  }
  print_out(out);
}

}  // namespace elmpad
