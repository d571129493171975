#include "mcp/json_rpc.h"

#include <array>
#include <string>

#include "app_client/version.h"
#include "json_print.h"
#include "mcp/tool_catalogue.h"
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

// The era a request belongs to: the handshake one, or the revision that
// names itself in every request's _meta.
enum class Era { kHandshake, kStateless };

// One request: its message, where its params lie, and its era.
struct Request {
  const Message& message;
  std::optional<NodeId> params;
  Era era;
};

// The initialize result echoes the requested version when it is a string.
std::string initialize_result(const Request& request) {
  const Message& m = request.message;
  std::string version;
  if (auto given = m.member(request.params, "protocolVersion"); given && m.index.kind(*given) == Kind::kString) {
    append_compact(m.index, m.line, *given, version, false);
  } else {
    version = compact(json(kDefaultProtocolVersion));
  }
  return R"({"capabilities":{"tools":{}},"protocolVersion":)" + version +
         R"(,"serverInfo":{"name":"elmpad","version":")" + kVersion + R"("}})";
}

// The cache hint on what never changes while the process lives: clients may
// keep it an hour, and share it, since it is the same for every user.
constexpr const char* kCacheHint = R"("cacheScope":"public")";
constexpr const char* kTtl = R"("ttlMs":3600000)";

// A result object of the stateless revision: its "resultType" goes in before
// the closing brace, after every key it sorts behind in every result here.
SplicedText completed(SplicedText result) {
  std::string& last = result.tail.empty() ? result.head : result.tail;
  last.pop_back();
  last += R"(,"resultType":"complete"})";
  return result;
}

std::optional<Reply> tools_call(const RequestId& id, const Request& request, const ToolRunner& run_tool) {
  const Message& m = request.message;
  ToolCall call{.id = id, .arguments = json::object(), .stateless = request.era == Era::kStateless};
  call.name = m.string_at(m.member(request.params, "name")).value_or("");
  if (auto arguments = m.member(request.params, "arguments")) call.arguments = m.value_at(*arguments);
  if (auto token = m.member(m.member(request.params, "_meta"), "progressToken")) {
    RequestId read = request_id_at(m.line, m.index, *token);
    if (read.value.is_string() || read.value.is_number_integer()) call.progress_token = std::move(read);
  }
  auto outcome = run_tool(call);
  if (!outcome) return std::nullopt;
  if (auto* error = std::get_if<ProtocolError>(&*outcome)) {
    return rpc_error(id, error->code, std::move(error->message));
  }
  auto& result = std::get<ToolResult>(*outcome);
  return rpc_result(id, request.era == Era::kStateless ? completed(std::move(result)) : std::move(result));
}

// The catalogue never changes while the process lives: its text is made
// once, on the first tools/list.
const std::string& tools_list_result() {
  static const std::string text = compact(json{{"tools", tool_schemas()}});
  return text;
}

const std::string& stateless_tools_list_result() {
  static const std::string text = [] {
    std::string tools = tools_list_result();  // {"tools":[…]}
    return "{" + std::string(kCacheHint) + R"(,"resultType":"complete",)" + tools.substr(1, tools.size() - 2) +
           "," + kTtl + "}";
  }();
  return text;
}

std::string discover_result() {
  return R"({"_meta":{"io.modelcontextprotocol/serverInfo":{"name":"elmpad","version":")" + std::string(kVersion) +
         R"("}},)" + kCacheHint + R"(,"capabilities":{"tools":{}},"resultType":"complete","supportedVersions":[")" +
         kStatelessVersion + R"("],)" + kTtl + "}";
}

using Runner = const ToolRunner&;
struct Method {
  std::string_view name;
  bool handshake;  // answered in the handshake era
  bool stateless;  // answered in the revision without a handshake
  std::optional<Reply> (*answer)(const RequestId& id, const Request& request, Runner run_tool);
};

// Which methods each era has. The stateless revision has no handshake and
// no ping; discovery is its alone.
constexpr std::array<Method, 5> kMethods = {{
    {"ping", true, false, [](const RequestId& id, const Request&, Runner) -> std::optional<Reply> {
       return rpc_result(id, {"{}"});
     }},
    {"initialize", true, false, [](const RequestId& id, const Request& request, Runner) -> std::optional<Reply> {
       return rpc_result(id, {initialize_result(request)});
     }},
    {"server/discover", false, true, [](const RequestId& id, const Request&, Runner) -> std::optional<Reply> {
       return rpc_result(id, {discover_result()});
     }},
    {"tools/list", true, true, [](const RequestId& id, const Request& request, Runner) -> std::optional<Reply> {
       return rpc_result(id, {request.era == Era::kStateless ? stateless_tools_list_result() : tools_list_result()});
     }},
    {"tools/call", true, true, tools_call},
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
  return Reply{R"({"error":)" + compact(error) + R"(,"id":)" + id.text() + R"(,"jsonrpc":"2.0"})", std::nullopt, ""};
}

}  // namespace

Reply rpc_result(const RequestId& id, SplicedText result) {
  result.head.insert(0, R"({"id":)" + id.text() + R"(,"jsonrpc":"2.0","result":)");
  result.tail += '}';
  return result;
}

Reply rpc_error(const RequestId& id, std::int64_t code, std::string message) {
  return error_reply(id, json{{"code", code}, {"message", std::move(message)}});
}

Reply rpc_error(const RequestId& id, std::int64_t code, std::string message, json data) {
  return error_reply(id, json{{"code", code}, {"data", std::move(data)}, {"message", std::move(message)}});
}

std::optional<Reply> handle_line(std::string_view line, const ToolRunner& run_tool) {
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
  Request request{m, m.member(JsonIndex::kRoot, "params"), Era::kHandshake};
  if (request.params && m.index.kind(*request.params) != Kind::kObject) request.params.reset();
  if (auto version = m.member(m.member(request.params, "_meta"), kVersionMetaKey)) {
    auto named = m.string_at(version);
    if (named != kStatelessVersion) {
      std::string requested = named ? *named : compact(m.value_at(*version));
      return rpc_error(id, kUnsupportedProtocolVersion, "unsupported protocol version: " + requested,
                       json{{"requested", requested}, {"supported", json::array({kStatelessVersion})}});
    }
    request.era = Era::kStateless;
  }
  for (const auto& entry : kMethods) {
    if (entry.name == method && (request.era == Era::kStateless ? entry.stateless : entry.handshake)) {
      return entry.answer(id, request, run_tool);
    }
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
