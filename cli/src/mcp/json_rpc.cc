#include "mcp/json_rpc.h"

#include <array>
#include <string>

#include "app_client/version.h"
#include "json_print.h"
#include "mcp/tool_table.h"
#include "utf8.h"

namespace elmpad::mcp {
namespace {

using Kind = JsonIndex::Kind;
using NodeId = JsonIndex::NodeId;

// A line read through its index, read as the library reads it (the last of
// a repeated key counts), so that every value is the one the client meant
// and a number keeps the text it was written as.
struct Message {
  std::string_view line;
  JsonIndex index;

  std::optional<NodeId> member(std::optional<NodeId> object, std::string_view key) const {
    return object ? index.member(line, *object, key) : std::nullopt;
  }
  std::optional<std::string> string_at(std::optional<NodeId> n) const {
    if (!n || index.kind(*n) != Kind::kString) return std::nullopt;
    return index.decoded_string(line, *n);
  }
  // The value at `n` as the library's, for what the tools take apart.
  json value_at(NodeId n) const { return parse_json(index.raw(line, n)).value_or(json()); }
};

// One request: its message, where its params lie, its revision, whether
// it declares the tasks extension, and where tasks are.
struct RpcRequest {
  const Message& message;
  std::optional<NodeId> params;
  const Revision& revision;
  bool declares_tasks;
  TaskBook* tasks;
};

// The reply carrying `result`, marked as the request's revision marks them
// (a task handle is marked already).
Reply answered(const RequestId& id, const RpcRequest& request, ObjectText result) {
  if (request.revision.marks_results && !result.has("resultType")) result.set("resultType", R"("complete")");
  return rpc_result(id, std::move(result));
}

// The initialize result echoes the requested version when it is a string.
ObjectText initialize_result(const RpcRequest& request) {
  const Message& m = request.message;
  std::string version;
  if (auto given = m.member(request.params, "protocolVersion"); given && m.index.kind(*given) == Kind::kString) {
    append_compact(m.index, m.line, *given, version, false);
  } else {
    version = compact(json(kHandshakeEra.version));
  }
  ObjectText result;
  result.set("capabilities", R"({"tools":{}})")
      .set("protocolVersion", std::move(version))
      .set("serverInfo", compact(json{{"name", "elmpad"}, {"version", kVersion}}));
  return result;
}

// What never changes while the process lives carries a cache hint: clients
// may keep it an hour, and share it, since it is the same for every user.
ObjectText cached(ObjectText result) {
  result.set("cacheScope", R"("public")").set("ttlMs", "3600000");
  return result;
}

ObjectText discover_result() {
  ObjectText result;
  result.set("_meta", compact(json{{"io.modelcontextprotocol/serverInfo", {{"name", "elmpad"}, {"version", kVersion}}}}))
      .set("capabilities", compact(json{{"extensions", {{kTasksExtension, json::object()}}}, {"tools", json::object()}}))
      .set("supportedVersions", compact(json::array({kRevision20260728.version})));
  return cached(std::move(result));
}

// Each revision's catalogue never changes while the process lives: its text
// is made once, on its first tools/list.
ObjectText tools_list_result(const Revision& revision) {
  static const std::string handshake = compact(tool_list(kHandshakeEra));
  static const std::string annotated = compact(tool_list(kRevision20260728));
  ObjectText result;
  if (!revision.marks_results) return std::move(result.set("tools", handshake));
  return cached(std::move(result.set("tools", annotated)));
}

std::optional<Reply> tools_call(const RequestId& id, const RpcRequest& request, const ToolRunner& run_tool) {
  const Message& m = request.message;
  ToolCall call{.id = id,
                .arguments = json::object(),
                .revision = &request.revision,
                .may_run_as_task = request.revision.offers_tasks && request.declares_tasks};
  call.name = m.string_at(m.member(request.params, "name")).value_or("");
  if (auto arguments = m.member(request.params, "arguments")) call.arguments = m.value_at(*arguments);
  if (auto token = m.member(m.member(request.params, "_meta"), "progressToken")) {
    // A string, or an integer of any size, echoed as written.
    Kind kind = m.index.kind(*token);
    auto raw = m.index.raw(m.line, *token);
    if (kind == Kind::kString || (kind == Kind::kNumber && raw.find_first_of(".eE") == std::string_view::npos)) {
      call.progress_token = request_id_at(m.line, m.index, *token);
    }
  }
  auto outcome = run_tool(call);
  if (!outcome) return std::nullopt;
  if (auto* error = std::get_if<ProtocolError>(&*outcome)) {
    return rpc_error(id, error->code, std::move(error->message));
  }
  return answered(id, request, std::move(std::get<ToolResult>(*outcome)));
}

// tasks/get and tasks/cancel: only for a request that declares the
// extension, and only for a task there is.
std::optional<Reply> task_request(const RequestId& id, const RpcRequest& request, bool cancel) {
  if (!request.declares_tasks) {
    return rpc_error(id, kMissingClientCapability, "Missing required client capability",
                     json{{"requiredCapabilities", {{"extensions", {{kTasksExtension, json::object()}}}}}});
  }
  const Message& m = request.message;
  auto task_id = m.string_at(m.member(request.params, "taskId"));
  if (!task_id) return rpc_error(id, kInvalidParams, "missing required argument: taskId");
  if (request.tasks != nullptr) {
    if (!cancel) {
      if (auto task = request.tasks->get(*task_id)) return answered(id, request, std::move(*task));
    } else if (request.tasks->cancel(*task_id)) {
      return answered(id, request, {});
    }
  }
  return rpc_error(id, kInvalidParams, "unknown or expired task: " + *task_id);
}

using Runner = const ToolRunner&;
struct Method {
  std::string_view name;
  std::uint8_t offered_in;  // the bits of the revisions that have it
  std::optional<Reply> (*answer)(const RequestId& id, const RpcRequest& request, Runner run_tool);
};

constexpr std::uint8_t kBoth = kHandshakeEra.bit | kRevision20260728.bit;

// The revision without a handshake has no initialize and no ping; discovery
// is its alone.
constexpr std::array<Method, 7> kMethods = {{
    {"ping", kHandshakeEra.bit, [](const RequestId& id, const RpcRequest& request, Runner) -> std::optional<Reply> {
       return answered(id, request, {});
     }},
    {"initialize", kHandshakeEra.bit,
     [](const RequestId& id, const RpcRequest& request, Runner) -> std::optional<Reply> {
       return answered(id, request, initialize_result(request));
     }},
    {"server/discover", kRevision20260728.bit,
     [](const RequestId& id, const RpcRequest& request, Runner) -> std::optional<Reply> {
       return answered(id, request, discover_result());
     }},
    {"tools/list", kBoth, [](const RequestId& id, const RpcRequest& request, Runner) -> std::optional<Reply> {
       return answered(id, request, tools_list_result(request.revision));
     }},
    {"tools/call", kBoth, tools_call},
    {"tasks/get", kRevision20260728.bit, [](const RequestId& id, const RpcRequest& request, Runner) {
       return task_request(id, request, false);
     }},
    {"tasks/cancel", kRevision20260728.bit, [](const RequestId& id, const RpcRequest& request, Runner) {
       return task_request(id, request, true);
     }},
}};

// The parser quotes the token it stopped in, which can be nearly the whole
// line (an unterminated string of megabytes): only its start is kept, so the
// reply never echoes the line.
std::string parse_error_message(std::string description) {
  constexpr std::size_t kMaxDescription = 200;
  if (description.size() > kMaxDescription) {
    std::size_t cut = kMaxDescription;
    while (cut > 0 && (static_cast<unsigned char>(description[cut]) & 0xC0) == 0x80) --cut;
    description.resize(cut);
    description += "\u2026";
  }
  return "parse error: " + description;
}

Reply error_reply(const RequestId& id, const json& error) {
  ObjectText reply;
  reply.set("error", compact(error)).set("id", id.text()).set("jsonrpc", R"("2.0")");
  return std::move(reply).text();
}

}  // namespace

Reply rpc_result(const RequestId& id, ObjectText result) {
  ObjectText reply;
  reply.set("id", id.text()).set("jsonrpc", R"("2.0")").set("result", std::move(result).text());
  return std::move(reply).text();
}

Reply rpc_error(const RequestId& id, std::int64_t code, std::string message) {
  return error_reply(id, json{{"code", code}, {"message", std::move(message)}});
}

Reply rpc_error(const RequestId& id, std::int64_t code, std::string message, json data) {
  return error_reply(id, json{{"code", code}, {"data", std::move(data)}, {"message", std::move(message)}});
}

std::optional<Reply> handle_line(std::string_view line, const ToolRunner& run_tool, TaskBook* tasks) {
  if (is_white_space_only(line)) return std::nullopt;
  auto index = JsonIndex::scan(line, JsonIndex::Accept::kAsLibrary);
  if (!index) {
    // The library words the fault. It reads what the scanner refuses only
    // in a line of 4 GiB or more, beyond what the scanner can index.
    auto parsed = parse_json(line);
    std::string fault = parsed ? "a line of 4 GiB or more is not read" : std::move(parsed).error();
    return rpc_error(RequestId(), kParseError, parse_error_message(std::move(fault)));
  }
  Message m{line, std::move(*index)};
  // Only an object can carry an id; batches and bare values are dropped.
  auto id_node = m.member(JsonIndex::kRoot, "id");
  if (!id_node) return std::nullopt;
  RequestId id = request_id_at(line, m.index, *id_node);
  std::string method = m.string_at(m.member(JsonIndex::kRoot, "method")).value_or("");
  auto params = m.member(JsonIndex::kRoot, "params");
  if (params && m.index.kind(*params) != Kind::kObject) params.reset();
  // The revision, once for the whole line: one that names none is of the
  // handshake era.
  const Revision* revision = &kHandshakeEra;
  if (auto version = m.member(m.member(params, "_meta"), kVersionMetaKey)) {
    auto named = m.string_at(version);
    if (named != kRevision20260728.version) {
      std::string requested = named ? *named : compact(m.value_at(*version));
      return rpc_error(id, kUnsupportedProtocolVersion, "unsupported protocol version: " + requested,
                       json{{"requested", requested}, {"supported", json::array({kRevision20260728.version})}});
    }
    revision = &kRevision20260728;
  }
  auto extensions = m.member(m.member(m.member(params, "_meta"), "io.modelcontextprotocol/clientCapabilities"),
                             "extensions");
  auto tasks_entry = m.member(extensions, kTasksExtension);
  bool declares_tasks = tasks_entry && m.index.kind(*tasks_entry) == Kind::kObject;
  RpcRequest request{m, params, *revision, declares_tasks, tasks};
  for (const auto& entry : kMethods) {
    if (entry.name == method && (entry.offered_in & revision->bit) != 0) return entry.answer(id, request, run_tool);
  }
  return rpc_error(id, kMethodNotFound, "method not found: " + method);
}

std::optional<RequestId> cancelled_request_id(std::string_view line) {
  // Lines can be megabytes long. The method can only be the cancellation if
  // its letters appear literally, or if the line has an escape able to spell
  // one of them (\/ or \uXXXX); any other line is passed on unread.
  if (line.find("notifications/cancelled") == std::string_view::npos &&
      line.find("\\/") == std::string_view::npos && line.find("\\u") == std::string_view::npos) {
    return std::nullopt;
  }
  auto index = JsonIndex::scan(line, JsonIndex::Accept::kAsLibrary);
  if (!index) return std::nullopt;
  Message m{line, std::move(*index)};
  if (m.member(JsonIndex::kRoot, "id")) return std::nullopt;
  if (m.string_at(m.member(JsonIndex::kRoot, "method")) != "notifications/cancelled") return std::nullopt;
  auto request_id = m.member(m.member(JsonIndex::kRoot, "params"), "requestId");
  if (!request_id) return std::nullopt;
  return request_id_at(line, m.index, *request_id);
}

}  // namespace elmpad::mcp
