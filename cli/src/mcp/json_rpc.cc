#include "mcp/json_rpc.h"

#include <array>
#include <string>

#include "app_client/version.h"
#include "mcp/tool_catalogue.h"
#include "raw_json.h"

namespace elmpad::mcp {
namespace {

// The initialize result around the protocol version, given as JSON text.
std::string initialize_text(std::string_view version) {
  return R"({"capabilities":{"tools":{}},"protocolVersion":)" + std::string(version) +
         R"(,"serverInfo":{"name":"elmpad","version":")" + kVersion + R"("}})";
}

std::string initialize_result(const json& params) {
  json version = kDefaultProtocolVersion;
  if (params.is_object()) {
    if (auto it = params.find("protocolVersion"); it != params.end() && it->is_string()) version = *it;
  }
  return initialize_text(compact(version));
}

// {"id":…,"jsonrpc":"2.0","result":…} around an id given as JSON text.
Reply result_reply(std::string_view id, SplicedText result) {
  result.head.insert(0, R"({"id":)" + std::string(id) + R"(,"jsonrpc":"2.0","result":)");
  result.tail += '}';
  return result;
}

// The era a request belongs to: the handshake one, or the revision that
// names itself in every request's _meta.
enum class Era { kHandshake, kStateless };

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

std::optional<Reply> tools_call(const RequestId& id, const json& params, Era era, const ToolRunner& run_tool) {
  ToolCall call{.id = id, .arguments = json::object(), .stateless = era == Era::kStateless};
  if (params.is_object()) {
    if (auto it = params.find("name"); it != params.end() && it->is_string()) call.name = it->get<std::string>();
    if (auto it = params.find("arguments"); it != params.end()) call.arguments = *it;
    if (auto meta = params.find("_meta"); meta != params.end() && meta->is_object()) {
      if (auto token = meta->find("progressToken");
          token != meta->end() && (token->is_string() || token->is_number_integer())) {
        call.progress_token = RequestId(*token);
      }
    }
  }
  auto outcome = run_tool(call);
  if (!outcome) return std::nullopt;
  if (auto* error = std::get_if<ProtocolError>(&*outcome)) {
    return rpc_error(id, error->code, std::move(error->message));
  }
  auto& result = std::get<ToolResult>(*outcome);
  return rpc_result(id, era == Era::kStateless ? completed(std::move(result)) : std::move(result));
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
  std::optional<Reply> (*answer)(const RequestId& id, const json& params, Era era, Runner run_tool);
};

// Which methods each era has. The stateless revision has no handshake and
// no ping; discovery is its alone.
constexpr std::array<Method, 5> kMethods = {{
    {"ping", true, false, [](const RequestId& id, const json&, Era, Runner) -> std::optional<Reply> {
       return rpc_result(id, {"{}"});
     }},
    {"initialize", true, false, [](const RequestId& id, const json& params, Era, Runner) -> std::optional<Reply> {
       return rpc_result(id, {initialize_result(params)});
     }},
    {"server/discover", false, true, [](const RequestId& id, const json&, Era, Runner) -> std::optional<Reply> {
       return rpc_result(id, {discover_result()});
     }},
    {"tools/list", true, true, [](const RequestId& id, const json&, Era era, Runner) -> std::optional<Reply> {
       return rpc_result(id, {era == Era::kStateless ? stateless_tools_list_result() : tools_list_result()});
     }},
    {"tools/call", true, true, tools_call},
}};

// The version a request names in params _meta, as JSON: nothing for a
// request of the handshake era.
const json* named_version(const json& params) {
  if (!params.is_object()) return nullptr;
  auto meta = params.find("_meta");
  if (meta == params.end() || !meta->is_object()) return nullptr;
  auto version = meta->find(kVersionMetaKey);
  return version == meta->end() ? nullptr : &*version;
}

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

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

}  // namespace

Reply rpc_result(const RequestId& id, SplicedText result) { return result_reply(id.text(), std::move(result)); }

namespace {

Reply error_reply(const RequestId& id, const json& error) {
  return Reply{R"({"error":)" + compact(error) + R"(,"id":)" + id.text() + R"(,"jsonrpc":"2.0"})", std::nullopt, ""};
}

}  // namespace

Reply rpc_error(const RequestId& id, std::int64_t code, std::string message) {
  return error_reply(id, json{{"code", code}, {"message", std::move(message)}});
}

Reply rpc_error(const RequestId& id, std::int64_t code, std::string message, json data) {
  return error_reply(id, json{{"code", code}, {"data", std::move(data)}, {"message", std::move(message)}});
}

bool is_blank(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size()) {
    auto byte = static_cast<unsigned char>(line[i]);
    int length = byte < 0x80 ? 1 : byte >> 5 == 0x6 ? 2 : byte >> 4 == 0xE ? 3 : 4;
    if (i + length > line.size()) return false;
    char32_t c = length == 1 ? byte : byte & (0x7F >> length);
    for (int k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(line[i + k]) & 0x3F);
    if (!is_white_space(c)) return false;
    i += length;
  }
  return true;
}

std::optional<Reply> handle_line(std::string_view line, const ToolRunner& run_tool) {
  if (is_blank(line)) return std::nullopt;
  if (auto reply = quick_reply(line)) return std::move(*reply);
  return careful_reply(line, run_tool);
}

std::optional<std::optional<Reply>> quick_reply(std::string_view line) {
  using Kind = JsonIndex::Kind;
  constexpr std::optional<Reply> kNoReply;
  // A tool call is the careful way's in any case: not worth a scan first;
  // so is a request that names its revision.
  if (line.find("tools/call") != std::string_view::npos) return std::nullopt;
  if (line.find("io.modelcontextprotocol") != std::string_view::npos) return std::nullopt;
  auto index = JsonIndex::scan(line);
  if (!index) return std::nullopt;
  // Only an object can carry an id; batches and bare values are dropped.
  if (index->kind(JsonIndex::kRoot) != Kind::kObject) return kNoReply;
  auto id = index->member(line, JsonIndex::kRoot, "id");
  if (!id) return kNoReply;
  // Ids are echoed as the careful way prints them; a number it would print
  // otherwise than written (1.0, 1e2, -0, past 64 bits), or a container
  // that may hold one, is left to it.
  std::string echoed;
  index->append_compact(line, *id, echoed, false);
  Kind id_kind = index->kind(*id);
  if (id_kind == Kind::kArray || id_kind == Kind::kObject ||
      (id_kind == Kind::kNumber && echoed != index->raw(line, *id))) {
    return std::nullopt;
  }
  std::string method;
  if (auto m = index->member(line, JsonIndex::kRoot, "method"); m && index->kind(*m) == Kind::kString) {
    method = index->decoded_string(line, *m);
  }
  if (method == "ping") return result_reply(echoed, {"{}"});
  if (method == "tools/list") return result_reply(echoed, {tools_list_result()});
  if (method == "initialize") {
    std::string version = compact(json(kDefaultProtocolVersion));
    auto params = index->member(line, JsonIndex::kRoot, "params");
    auto given = params ? index->member(line, *params, "protocolVersion") : std::nullopt;
    if (given && index->kind(*given) == Kind::kString) {
      version.clear();
      index->append_compact(line, *given, version, false);
    }
    return result_reply(echoed, {initialize_text(version)});
  }
  return std::nullopt;  // tool calls and unknown methods
}

std::optional<Reply> careful_reply(std::string_view line, const ToolRunner& run_tool) {
  auto message = parse_json(line);
  if (!message) return rpc_error(RequestId(), kParseError, parse_error_message(std::move(message).error()));
  // Only an object can carry an id; batches and bare values are dropped.
  if (!message->is_object()) return std::nullopt;
  auto id_member = message->find("id");
  if (id_member == message->end()) return std::nullopt;
  RequestId id = read_request_id(line, std::move(*id_member), {"id"});
  std::string method;
  if (auto it = message->find("method"); it != message->end() && it->is_string()) method = it->get<std::string>();
  json params;
  if (auto it = message->find("params"); it != message->end()) params = std::move(*it);
  Era era = Era::kHandshake;
  if (const json* version = named_version(params)) {
    if (*version != kStatelessVersion) {
      std::string requested = version->is_string() ? version->get<std::string>() : compact(*version);
      return rpc_error(id, kUnsupportedProtocolVersion, "unsupported protocol version: " + requested,
                       json{{"requested", requested}, {"supported", json::array({kStatelessVersion})}});
    }
    era = Era::kStateless;
  }
  for (const auto& entry : kMethods) {
    if (entry.name == method && (era == Era::kStateless ? entry.stateless : entry.handshake)) {
      return entry.answer(id, params, era, run_tool);
    }
  }
  return rpc_error(id, kMethodNotFound, "method not found: " + method);
}

}  // namespace elmpad::mcp
