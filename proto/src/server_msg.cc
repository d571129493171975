#include "server_msg.h"

#include <algorithm>
#include <vector>

namespace elmpad {
namespace {

bool has_duplicates_at(const std::vector<std::string>& duplicates, std::string_view where) {
  return std::find(duplicates.begin(), duplicates.end(), where) != duplicates.end();
}

// Only non-negative integers that fit in 64 bits qualify: the library keeps
// them apart from negative (signed) and fractional (float) numbers.
std::optional<std::uint64_t> as_u64(const json& value) {
  if (!value.is_number_unsigned()) return std::nullopt;
  return value.get<std::uint64_t>();
}

std::optional<ErrorBody> as_error_body(const json& value) {
  if (!value.is_object()) return std::nullopt;
  auto code = value.find("code");
  if (code == value.end() || !code->is_string()) return std::nullopt;
  ErrorBody body{code->get<std::string>(), {}};
  auto params = value.find("params");
  if (params != value.end() && !params->is_null()) {
    if (!params->is_object()) return std::nullopt;
    for (const auto& [key, v] : params->items()) {
      if (!v.is_string()) return std::nullopt;
      body.params[key] = v.get<std::string>();
    }
  }
  return body;
}

std::optional<Response> as_response(const json& obj, const std::vector<std::string>& duplicates) {
  if (has_duplicates_at(duplicates, "")) return std::nullopt;
  auto id = obj.find("id");
  auto ok = obj.find("ok");
  if (id == obj.end() || ok == obj.end() || !ok->is_boolean()) return std::nullopt;
  auto id_value = as_u64(*id);
  if (!id_value) return std::nullopt;
  Response r{*id_value, ok->get<bool>(), std::nullopt, std::nullopt};
  if (auto data = obj.find("data"); data != obj.end() && !data->is_null()) r.data = *data;
  if (auto error = obj.find("error"); error != obj.end() && !error->is_null()) {
    if (has_duplicates_at(duplicates, "/error")) return std::nullopt;
    r.error = as_error_body(*error);
    if (!r.error) return std::nullopt;
  }
  return r;
}

std::optional<Event> as_event(const json& obj, const std::vector<std::string>& duplicates) {
  if (has_duplicates_at(duplicates, "")) return std::nullopt;
  auto id = obj.find("id");
  auto name = obj.find("event");
  if (id == obj.end() || name == obj.end() || !name->is_string()) return std::nullopt;
  auto id_value = as_u64(*id);
  if (!id_value) return std::nullopt;
  Event e{*id_value, name->get<std::string>(), std::nullopt};
  if (auto outcome = obj.find("outcome"); outcome != obj.end() && !outcome->is_null()) {
    if (!outcome->is_string()) return std::nullopt;
    e.outcome = outcome_from_text(outcome->get<std::string>());
    if (!e.outcome) return std::nullopt;
  }
  return e;
}

}  // namespace

std::expected<ServerMsg, std::string> decode_server_msg(std::string_view line) {
  std::vector<std::string> duplicates;
  auto parsed = parse_json(line, {.duplicates_at = &duplicates});
  if (!parsed) return std::unexpected(parsed.error());
  if (parsed->is_object()) {
    if (auto r = as_response(*parsed, duplicates)) return ServerMsg{std::move(*r)};
    if (auto e = as_event(*parsed, duplicates)) return ServerMsg{std::move(*e)};
  }
  return std::unexpected(std::string(kNoVariantMessage));
}

std::optional<OkResponse> ok_response(std::string_view line, const JsonIndex& index) {
  using Kind = JsonIndex::Kind;
  if (index.kind(JsonIndex::kRoot) != Kind::kObject) return std::nullopt;
  auto ok = index.member(line, JsonIndex::kRoot, "ok");
  auto id = index.member(line, JsonIndex::kRoot, "id");
  if (!ok || index.kind(*ok) != Kind::kTrue || !id) return std::nullopt;
  auto id_value = index.as_u64(line, *id);
  if (!id_value) return std::nullopt;
  // An error beside "ok" true is ignored, but only once it is known to fit.
  if (auto error = index.member(line, JsonIndex::kRoot, "error"); error && index.kind(*error) != Kind::kNull) {
    return std::nullopt;
  }
  OkResponse r{*id_value, std::nullopt};
  if (auto data = index.member(line, JsonIndex::kRoot, "data"); data && index.kind(*data) != Kind::kNull) r.data = *data;
  return r;
}

json error_body_json(const ErrorBody& error) {
  json params = json::object();
  for (const auto& [k, v] : error.params) params[k] = v;
  return json{{"code", error.code}, {"params", std::move(params)}};
}

std::string encode_server_msg(const ServerMsg& msg) {
  json out = json::object();
  if (const auto* r = std::get_if<Response>(&msg)) {
    out["id"] = r->id;
    out["ok"] = r->ok;
    if (r->data) out["data"] = *r->data;
    if (r->error) out["error"] = error_body_json(*r->error);
  } else {
    const auto& e = std::get<Event>(msg);
    out["id"] = e.id;
    out["event"] = e.event;
    if (e.outcome) out["outcome"] = std::string(outcome_text(*e.outcome));
  }
  return compact(out) + "\n";
}

}  // namespace elmpad
