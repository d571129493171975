#include "cli/status_command.h"

#include "app_client/app_connection.h"

namespace elmpad {
namespace {

std::string status_text(const json& status) {
  std::string out = "Elmwrite is running\n";
  if (!status.is_object()) return out;
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
  return out;
}

}  // namespace

CommandResult show_status() {
  auto app = AppConnection::open(Reach::kIfRunning);
  if (!app) return failed(std::move(app).error());
  if (!*app) return Done{.data = json{{"running", false}}, .text = "Elmwrite is not running\n"};
  if (auto sent = (*app)->send(Request{.cmd = cmd::Status{}}); !sent) return failed(std::move(sent).error());
  // The cause of a failed read is not shown: a status that cannot be read is
  // simply a failed status.
  auto answer = (*app)->read_answer(1);
  if (!answer || !answer->ok) return failed(RunErr{"STATUS_FAILED", "status request failed"});
  json status = answer->data ? as_tree(std::move(*answer->data)) : json{{"running", true}};
  std::string text = status_text(status);
  return Done{.data = std::move(status), .text = std::move(text)};
}

}  // namespace elmpad
