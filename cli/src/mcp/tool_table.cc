#include "mcp/tool_table.h"

#include <algorithm>
#include <array>

#include "mcp/in_flight.h"
#include "mcp/open_tools.h"
#include "mcp/section_tools.h"
#include "mcp/session.h"
#include "mcp/tool_args.h"
#include "mcp/tool_catalogue.h"
#include "mcp/wait_tools.h"

namespace elmpad::mcp {
namespace {

/// A tool's run, once its arguments passed, and what it reports meanwhile.
struct Ready {
  std::function<Result<Payload>(CallControl&)> run;
  ProgressPlan progress;
};
using Prepared = std::expected<Ready, ProtocolError>;

/// What a client may assume of a tool before it runs it: its annotations.
struct Hints {
  bool read_only;
  bool destructive;
  bool idempotent;
};

struct ToolEntry {
  std::string_view name;
  std::string_view title;
  Hints hints;
  /// Blocks until something happens: see PreparedTool::long_running.
  bool long_running;
  /// The JSON Schema of a success payload: its members as the tool or the
  /// application gives them, every other member allowed, since the
  /// application may add its own.
  std::string_view output_schema;
  /// Reads the arguments in the tool's order; every argument error is
  /// decided here, before anything is touched.
  Prepared (*prepare)(const ToolArgs& args);
};

// A tool whose one required text is `key`: `run` gets it, once it passed.
template <class Run>
Prepared with_required(const ToolArgs& args, const char* key, Run run) {
  auto text = args.required_text(key);
  if (!text) return std::unexpected(text.error());
  return Ready{[text = *text, run](CallControl&) { return run(text); }, {}};
}

Prepared prepare_open_file(const ToolArgs& args) {
  return with_required(args, "path", [](const std::string& path) { return open_or_reveal(path, std::nullopt, false); });
}

Prepared prepare_reveal(const ToolArgs& args) {
  return with_required(args, "path", [heading = args.optional_text("heading")](const std::string& path) {
    return open_or_reveal(path, heading, true);
  });
}

Prepared prepare_open_folder(const ToolArgs& args) {
  return with_required(args, "path", [](const std::string& path) { return open_folder(path); });
}

Prepared prepare_get_context(const ToolArgs&) {
  return Ready{[](CallControl&) { return get_context(); }, {}};
}

Prepared prepare_execute_command(const ToolArgs& args) {
  return with_required(args, "id", [](const std::string& id) { return execute_command(id); });
}

Prepared prepare_read_section(const ToolArgs& args) {
  return with_required(args, "path", [heading = args.optional_text("heading")](const std::string& path) {
    return section_request(path, heading, std::nullopt);
  });
}

Prepared prepare_write_section(const ToolArgs& args) {
  auto path = args.required_text("path");
  if (!path) return std::unexpected(path.error());
  auto heading = args.optional_text("heading");
  auto operation = args.required_text("operation");
  if (!operation) return std::unexpected(operation.error());
  // Unlike other required texts, the content may be empty.
  const std::string* content = args.string("content");
  if (content == nullptr) return std::unexpected(ToolArgs::missing("content"));
  WriteBundle write{*operation, *content, args.optional_text("baseHash")};
  return Ready{[path = *path, heading, write](CallControl&) { return section_request(path, heading, write); }, {}};
}

// What a wait is said to wait for, and how long at most: the app's default
// and longest waits (the catalogue advertises them) stand where the call
// gives none or asks for more.
ProgressPlan wait_progress(const WaitArgs& wait) {
  constexpr std::uint64_t kDefaultSeconds = 120;
  constexpr std::uint64_t kLongestSeconds = 600;
  std::string what = wait.path && wait.workspace ? "a change or a message" : wait.path ? "a change" : "a message";
  return {std::min(wait.timeout_seconds.value_or(kDefaultSeconds), kLongestSeconds), std::move(what)};
}

Prepared prepare_wait_for_change(const ToolArgs& args) {
  auto non_empty = [&args](const char* key) {
    auto text = args.optional_text(key);
    return text && !text->empty() ? text : std::nullopt;
  };
  WaitArgs wait;
  wait.path = non_empty("path");
  wait.workspace = non_empty("workspace");
  if (!wait.path && !wait.workspace) {
    return std::unexpected(ProtocolError{kInvalidParams, "wait_for_change needs at least one of: path, workspace"});
  }
  wait.name = non_empty("name");
  wait.timeout_seconds = args.optional_count("timeout_seconds");
  return Ready{[wait](CallControl& control) { return wait_for_change(wait, control); }, wait_progress(wait)};
}

Prepared prepare_post_message(const ToolArgs& args) {
  return with_required(args, "text", [](const std::string& text) { return post_message(text); });
}

// Annotations. Everything acts on the local app alone, never on an open
// world. Opening and revealing change only what is on screen: a missing
// note is created, an existing one never overwritten, and doing it twice
// does nothing more. A write can replace a section, and the app's commands
// are not known to be harmless. A sidebar message adds a line, harmless, but
// twice is two lines.
constexpr Hints kReads{.read_only = true, .destructive = false, .idempotent = true};
constexpr Hints kShows{.read_only = false, .destructive = false, .idempotent = true};
constexpr Hints kOverwrites{.read_only = false, .destructive = true, .idempotent = false};
constexpr Hints kAdds{.read_only = false, .destructive = false, .idempotent = false};

constexpr std::array<ToolEntry, 9> kTools = {{
    {"open_file", "Open file", kShows, false,
     R"({"type":"object","properties":{"ok":{"type":"boolean"},"opened":{"type":"string","description":"The absolute path opened."}},"required":["ok","opened"]})",
     prepare_open_file},
    {"reveal", "Reveal heading", kShows, false,
     R"({"type":"object","properties":{"ok":{"type":"boolean"},"revealed":{"type":"string","description":"The absolute path revealed."},"heading":{"anyOf":[{"type":"string"},{"type":"null"}],"description":"The heading scrolled to, or null when none was given."}},"required":["heading","ok","revealed"]})",
     prepare_reveal},
    {"open_folder", "Open folder", kShows, false,
     R"({"type":"object","properties":{"ok":{"type":"boolean"},"folder":{"type":"string","description":"The absolute path of the workspace opened."}},"required":["folder","ok"]})",
     prepare_open_folder},
    {"get_context", "Get context", kReads, false,
     R"({"type":"object","properties":{"running":{"type":"boolean","description":"false when Elmwrite is not running; then version is the only other member."},"version":{"type":"string","description":"The installed Elmwrite version."},"degraded":{"type":"boolean","description":"Running without an open window: only a possibly-stale folder/tabs/active snapshot."}},"required":["version"],"description":"What the user has open, as the app reports it: folder, tabs, active, selection, visibleHeading (pass it unchanged as read_section's heading), availableCommands (ids for execute_command)."})",
     prepare_get_context},
    {"execute_command", "Run app command", kOverwrites, false,
     R"({"type":"object","properties":{"ran":{"type":"boolean"}},"description":"The app's answer to the command; {\"ran\":true} when it has none."})",
     prepare_execute_command},
    {"read_section", "Read section", kReads, false,
     R"({"type":"object","properties":{"content":{"type":"string","description":"The section's content (the whole document without heading)."},"baseHash":{"type":"string","description":"The concurrency token write_section needs."}},"description":"The section as the app read it from the live buffer, with its line range; without heading, the outline (each section's anchor, ready to pass as heading) and the whole content."})",
     prepare_read_section},
    {"write_section", "Write section", kOverwrites, false,
     R"({"type":"object","properties":{"baseHash":{"type":"string","description":"A fresh concurrency token for the next write."},"ok":{"type":"boolean"}},"description":"The app's answer to the write; {\"ok\":true} when it has none."})",
     prepare_write_section},
    {"wait_for_change", "Wait for change", kReads, true,
     R"({"type":"object","properties":{"changed":{"type":"boolean","description":"true on a real content change of the file."},"exists":{"type":"boolean","description":"false when the change was a delete."},"messages":{"type":"array","description":"Sidebar messages, in the order the user sent them.","items":{"type":"object","properties":{"text":{"type":"string"}},"description":"A message's text, and its context: position only (file path, section heading, selection line range)."}},"timedOut":{"type":"boolean","description":"Nothing happened in time: wait again."},"cancelled":{"type":"boolean","description":"The user stopped you: leave the loop."},"source":{"type":"string","description":"With a workspace: file, message, timeout or cancelled."}}})",
     prepare_wait_for_change},
    {"post_message", "Post sidebar message", kAdds, false,
     R"({"type":"object","properties":{"delivered":{"type":"boolean","description":"false when nobody could be shown the message; never retry."},"ok":{"type":"boolean"}}})",
     prepare_post_message},
}};

const ToolEntry* find_tool(std::string_view name) {
  auto it = std::find_if(kTools.begin(), kTools.end(), [name](const ToolEntry& tool) { return tool.name == name; });
  return it == kTools.end() ? nullptr : &*it;
}

json annotations(const Hints& hints) {
  return json{{"destructiveHint", hints.destructive},
              {"idempotentHint", hints.idempotent},
              {"openWorldHint", false},
              {"readOnlyHint", hints.read_only}};
}

}  // namespace

ToolResult PreparedTool::run(CallControl& control) const {
  auto payload = run_(control);
  if (!payload) return tool_err(payload.error());
  return tool_ok(std::move(*payload), revision_->structured_tools);
}

std::expected<PreparedTool, ToolOutcome> prepare_tool(std::string_view name, const json& arguments,
                                                      const Revision& revision) {
  // Before the name is looked at: an app started since the last call may
  // now grant the session.
  ensure_session();
  const ToolEntry* tool = find_tool(name);
  if (tool == nullptr) return std::unexpected(ProtocolError{kInvalidParams, "unknown tool: " + std::string(name)});
  auto ready = tool->prepare(ToolArgs(arguments));
  if (!ready) {
    if (revision.argument_errors_are_results) {
      return std::unexpected(tool_err(RunErr{"INVALID_ARGUMENTS", std::move(ready.error().message)}));
    }
    return std::unexpected(std::move(ready).error());
  }
  return PreparedTool(std::move(ready->run), revision, tool->long_running, std::move(ready->progress));
}

ToolOutcome call_tool(std::string_view name, const json& arguments, const Revision& revision) {
  auto prepared = prepare_tool(name, arguments, revision);
  if (!prepared) return std::move(prepared).error();
  InFlightControl control;
  return prepared->run(control);
}

json tool_list(const Revision& revision) {
  json tools = tool_schemas();
  if (!revision.structured_tools) return tools;
  for (json& tool : tools) {
    const ToolEntry* entry = find_tool(tool.value("name", ""));
    if (entry == nullptr) continue;
    tool["title"] = entry->title;
    tool["annotations"] = annotations(entry->hints);
    tool["annotations"]["title"] = entry->title;
    tool["outputSchema"] = parse_json(entry->output_schema).value_or(json::object());
  }
  return tools;
}

}  // namespace elmpad::mcp
