#include "user_console.h"

#include "app_log.h"
#include "line_reader.h"

namespace elmpad::headless {
namespace {

constexpr const char* kHelp[] = {
    "commands:",
    "  close [<path>]          finish a tab (the active one without a path)",
    "  discard [<path>]        discard a tab",
    "  say <workspace> <text>  send a sidebar message to the agents waiting on a workspace",
    "  tabs                    list the folder, the tabs (* = active) and the viewer",
    "  help                    show this list",
    "quote a path with spaces: close \"/notes/my note.md\"",
};

std::string_view skip_spaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::unexpected<RunErr> bad_command(std::string sentence) { return fail_with("BAD_COMMAND", std::move(sentence)); }

// The next word, or a double-quoted string; the error names a missing quote.
Result<std::string> next_word(std::string_view& rest) {
  rest = skip_spaces(rest);
  std::string word;
  if (!rest.empty() && rest.front() == '"') {
    auto end = rest.find('"', 1);
    if (end == std::string_view::npos) return bad_command("missing closing quote");
    word = std::string(rest.substr(1, end - 1));
    rest.remove_prefix(end + 1);
  } else {
    auto end = rest.find_first_of(" \t");
    if (end == std::string_view::npos) end = rest.size();
    word = std::string(rest.substr(0, end));
    rest.remove_prefix(end);
  }
  return word;
}

}  // namespace

Result<UserCommand> parse_user_command(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  std::string_view rest = line;
  auto verb = next_word(rest);
  if (!verb) return std::unexpected(std::move(verb).error());
  if (verb->empty()) return user::Nothing{};
  if (*verb == "close" || *verb == "discard") {
    user::Close c;
    c.outcome = *verb == "close" ? Outcome::kDone : Outcome::kDiscarded;
    if (!skip_spaces(rest).empty()) {
      auto path = next_word(rest);
      if (!path) return std::unexpected(std::move(path).error());
      if (!skip_spaces(rest).empty()) return bad_command(*verb + " takes one path (quote a path with spaces)");
      c.path = *path;
    }
    return c;
  }
  if (*verb == "say") {
    auto workspace = next_word(rest);
    if (!workspace) return std::unexpected(std::move(workspace).error());
    std::string text(skip_spaces(rest));
    if (workspace->empty() || text.empty()) return bad_command("usage: say <workspace> <text>");
    return user::Say{*workspace, text};
  }
  if (*verb == "tabs" && skip_spaces(rest).empty()) return user::Tabs{};
  if (*verb == "help" && skip_spaces(rest).empty()) return user::Help{};
  return bad_command("unknown command '" + std::string(line) + "' (type help)");
}

std::vector<std::string> run_user_command(App& app, const UserCommand& command) {
  if (const auto* c = std::get_if<user::Close>(&command)) {
    std::optional<std::string> path = c->path ? c->path : app.workspace().view().active;
    if (!path) return {"error: no tab is open"};
    auto closed = app.close_tab(*path, c->outcome);
    if (!closed) return {"error: " + closed.error().message};
    return {};  // the app has shown the close
  }
  if (const auto* s = std::get_if<user::Say>(&command)) {
    auto said = app.say(s->workspace, s->text);
    if (!said) return {"error: " + said.error().message};
    return {};
  }
  if (std::holds_alternative<user::Tabs>(command)) return app.describe_tabs();
  if (std::holds_alternative<user::Help>(command)) return {std::begin(kHelp), std::end(kHelp)};
  return {};
}

void run_user_console(App& app, UniqueFd input) {
  LineReader reader(std::move(input));
  std::string line;
  while (true) {
    line.clear();
    auto got = reader.read_line(line);
    // A last command without its line feed still counts, even when a read
    // error ends the input; nothing at all reads as an empty line.
    bool more = got && line.ends_with('\n');
    if (more) line.pop_back();
    auto command = parse_user_command(line);
    std::vector<std::string> lines =
        command ? run_user_command(app, *command) : std::vector<std::string>{"error: " + command.error().message};
    for (const auto& l : lines) print_line(l);
    if (!more) return;
  }
}

}  // namespace elmpad::headless
