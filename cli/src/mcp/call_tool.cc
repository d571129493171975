#include "mcp/call_tool.h"

#include <array>
#include <expected>
#include <functional>

#include "app/connection.h"
#include "app/error_envelope.h"
#include "app/path_text.h"
#include "mcp/in_flight.h"
#include "mcp/open_tools.h"
#include "mcp/section_tools.h"
#include "mcp/session.h"
#include "mcp/wait_tools.h"

namespace elmpad::mcp {
namespace {

/// The call's arguments, read by the three rules every tool uses. Arguments
/// that are not an object read as absent.
class ToolArgs {
 public:
  explicit ToolArgs(const json& arguments) : arguments_(arguments) {}

  /// A string member, the empty one included; nullptr otherwise.
  const std::string* string(const char* key) const {
    if (!arguments_.is_object()) return nullptr;
    auto it = arguments_.find(key);
    if (it == arguments_.end() || !it->is_string()) return nullptr;
    return &it->get_ref<const std::string&>();
  }

  std::expected<std::string, ProtocolError> required_text(const char* key) const {
    const std::string* text = string(key);
    if (text == nullptr || text->empty()) return std::unexpected(missing(key));
    return *text;
  }

  std::optional<std::string> optional_text(const char* key) const {
    const std::string* text = string(key);
    if (text == nullptr) return std::nullopt;
    return *text;
  }

  /// Only a plain non-negative integer: the library keeps 30.0 and 1e2 as
  /// floating-point numbers and -5 as a signed one.
  std::optional<std::uint64_t> optional_count(const char* key) const {
    if (!arguments_.is_object()) return std::nullopt;
    auto it = arguments_.find(key);
    if (it == arguments_.end() || !it->is_number_unsigned()) return std::nullopt;
    return it->get<std::uint64_t>();
  }

  static ProtocolError missing(const char* key) {
    return ProtocolError{kInvalidParams, std::string("missing required argument: ") + key};
  }

 private:
  const json& arguments_;
};

/// A tool whose arguments passed: running it acts (file system, app).
using Run = std::function<Result<Payload>()>;
using Prepared = std::expected<Run, ProtocolError>;

struct ToolEntry {
  std::string_view name;
  /// Reads the arguments in the tool's order; every argument error is
  /// decided here, before anything is touched.
  Prepared (*prepare)(const ToolArgs& args);
};

Prepared prepare_open_file(const ToolArgs& args) {
  auto path = args.required_text("path");
  if (!path) return std::unexpected(path.error());
  return [path = *path] { return open_or_reveal(path, std::nullopt, false); };
}

Prepared prepare_reveal(const ToolArgs& args) {
  auto path = args.required_text("path");
  if (!path) return std::unexpected(path.error());
  return [path = *path, heading = args.optional_text("heading")] { return open_or_reveal(path, heading, true); };
}

Prepared prepare_open_folder(const ToolArgs& args) {
  auto path = args.required_text("path");
  if (!path) return std::unexpected(path.error());
  return [path = *path] { return open_folder(path); };
}

Prepared prepare_get_context(const ToolArgs&) {
  return [] { return get_context(); };
}

Prepared prepare_execute_command(const ToolArgs& args) {
  auto id = args.required_text("id");
  if (!id) return std::unexpected(id.error());
  return [id = *id] { return execute_command(id); };
}

Prepared prepare_read_section(const ToolArgs& args) {
  auto path = args.required_text("path");
  if (!path) return std::unexpected(path.error());
  return [path = *path, heading = args.optional_text("heading")] {
    return section_request(path, heading, std::nullopt);
  };
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
  auto text = args.required_text("text");
  if (!text) return std::unexpected(text.error());
  return [text = *text] { return post_message(text); };
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

constexpr const char* kTextItemHead = R"({"content":[{"text":")";
constexpr const char* kTextItemTail = R"(","type":"text"}]})";

// The result object around one text item holding `text`.
ToolResult text_result(const std::string& text, bool is_error) {
  std::string item = compact(json{{"text", text}, {"type", "text"}});
  return ToolResult{R"({"content":[)" + item + (is_error ? R"(],"isError":true})" : "]}"), std::nullopt, ""};
}

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

ToolResult tool_ok(Payload payload) {
  if (auto* raw = std::get_if<RawJson>(&payload)) return ToolResult{kTextItemHead, std::move(*raw), kTextItemTail};
  return text_result(compact(std::get<json>(payload)), false);
}

ToolResult tool_err(const RunErr& err) { return text_result(compact(error_envelope(err)), true); }

RunErr remote_err(const std::optional<json>& error, std::string_view fallback) {
  if (!error) return RunErr{std::string(fallback), "request failed"};
  std::string code;
  if (auto it = error->find("code"); it != error->end() && it->is_string()) code = it->get<std::string>();
  return RunErr{std::move(code), compact(*error)};
}

Result<std::string> resolve(std::string_view path) {
  if (path.starts_with('/')) return std::string(path);
  auto cwd = current_dir();
  if (!cwd) return std::unexpected(std::move(cwd).error());
  return absolute_path(*cwd, path);
}

Result<PassedAnswer> ask_app(UniqueFd socket, Cmd command, bool cancellable) {
  auto conn = make_connection(std::move(socket));
  if (!conn) return std::unexpected(std::move(conn).error());
  if (cancellable) register_socket(conn->socket.get());
  Request request{.id = 1, .session = request_session(), .cmd = std::move(command)};
  if (auto sent = send(conn->socket.get(), request); !sent) return std::unexpected(std::move(sent).error());
  return read_response_passed(conn->reader, 1);
}

}  // namespace elmpad::mcp
