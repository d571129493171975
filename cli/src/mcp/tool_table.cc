#include "mcp/tool_table.h"

#include <array>
#include <expected>
#include <functional>

#include "mcp/open_tools.h"
#include "mcp/section_tools.h"
#include "mcp/session.h"
#include "mcp/tool_args.h"
#include "mcp/wait_tools.h"

namespace elmpad::mcp {
namespace {

/// A tool whose arguments passed: running it acts (file system, app).
using Prepared = std::expected<std::function<Result<Payload>()>, ProtocolError>;

struct ToolEntry {
  std::string_view name;
  /// Reads the arguments in the tool's order; every argument error is
  /// decided here, before anything is touched.
  Prepared (*prepare)(const ToolArgs& args);
};

// A tool whose one required text is `key`: `run` gets it, once it passed.
template <class Run>
Prepared with_required(const ToolArgs& args, const char* key, Run run) {
  auto text = args.required_text(key);
  if (!text) return std::unexpected(text.error());
  return [text = *text, run] { return run(text); };
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
  return [] { return get_context(); };
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
  return [path = *path, heading, write] { return section_request(path, heading, write); };
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
  return [wait] { return wait_for_change(wait); };
}

Prepared prepare_post_message(const ToolArgs& args) {
  return with_required(args, "text", [](const std::string& text) { return post_message(text); });
}

constexpr std::array<ToolEntry, 9> kTools = {{
    {"open_file", prepare_open_file},
    {"reveal", prepare_reveal},
    {"open_folder", prepare_open_folder},
    {"get_context", prepare_get_context},
    {"execute_command", prepare_execute_command},
    {"read_section", prepare_read_section},
    {"write_section", prepare_write_section},
    {"wait_for_change", prepare_wait_for_change},
    {"post_message", prepare_post_message},
}};

}  // namespace

ToolOutcome call_tool(std::string_view name, const json& arguments) {
  // Before the name is looked at: an app started since the last call may
  // now grant the session.
  ensure_session();
  const ToolEntry* entry = nullptr;
  for (const auto& tool : kTools) {
    if (tool.name == name) entry = &tool;
  }
  if (entry == nullptr) return ProtocolError{kInvalidParams, "unknown tool: " + std::string(name)};
  auto run = entry->prepare(ToolArgs(arguments));
  if (!run) return run.error();
  auto payload = (*run)();
  if (!payload) return tool_err(payload.error());
  return tool_ok(std::move(*payload));
}

}  // namespace elmpad::mcp
