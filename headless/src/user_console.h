// The user's side of the app on its standard input: one command per line,
// so a person or a script can close tabs and talk through the sidebar.
//   close [<path>]        finish a tab (the active one without a path)
//   discard [<path>]      discard a tab
//   say <workspace> <text>  send a sidebar message to the workspace
//   tabs                  list folder, tabs (* marks the active one), viewer
//   help                  list the commands
// A path or workspace with spaces is written in double quotes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app.h"
#include "run_err.h"
#include "unique_fd.h"

namespace elmpad::headless {

namespace user {
struct Close {
  std::optional<std::string> path;
  Outcome outcome = Outcome::kDone;
};
struct Say {
  std::string workspace;
  std::string text;
};
struct Tabs {};
struct Help {};
struct Nothing {};  // an empty line
}  // namespace user

using UserCommand = std::variant<user::Close, user::Say, user::Tabs, user::Help, user::Nothing>;

/// Parses one line; else "BAD_COMMAND" with the sentence shown to the user.
Result<UserCommand> parse_user_command(std::string_view line);

/// Carries the command out; returns the lines to show (errors included).
std::vector<std::string> run_user_command(App& app, const UserCommand& command);

/// Reads commands from `input` until its end, showing answers on standard
/// output. The app keeps serving after this returns.
void run_user_console(App& app, UniqueFd input);

}  // namespace elmpad::headless
