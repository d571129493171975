#include "request_decode.h"

#include <algorithm>
#include <vector>

#include "json_text.h"

namespace elmpad {
namespace {

// Reads the fields of one command out of the request object, remembering the
// first problem so each command's reader stays a flat list of fields.
class FieldReader {
 public:
  FieldReader(const json& obj, std::string_view tag) : obj_(obj), tag_(tag) {}

  std::string text(std::string_view key) {
    auto v = optional_text(key);
    if (!v && !error_) fail("missing field `" + std::string(key) + "`");
    return v.value_or("");
  }
  std::optional<std::string> optional_text(std::string_view key) {
    const json* v = find(key);
    if (v == nullptr) return std::nullopt;
    if (!v->is_string()) {
      fail("field `" + std::string(key) + "` must be a string");
      return std::nullopt;
    }
    return v->get<std::string>();
  }
  // A path with a NUL byte would be cut short by every system call and name
  // some other file: it names nothing.
  std::string path(std::string_view key) {
    auto v = optional_path(key);
    if (!v && !error_) fail("missing field `" + std::string(key) + "`");
    return v.value_or("");
  }
  std::optional<std::string> optional_path(std::string_view key) {
    auto v = optional_text(key);
    if (v && v->find('\0') != std::string::npos) {
      fail("field `" + std::string(key) + "` must not contain a NUL byte");
      return std::nullopt;
    }
    return v;
  }
  bool boolean(std::string_view key) {
    const json* v = find(key);
    if (v == nullptr || !v->is_boolean()) {
      fail(v == nullptr ? "missing field `" + std::string(key) + "`"
                        : "field `" + std::string(key) + "` must be true or false");
      return false;
    }
    return v->get<bool>();
  }
  std::optional<std::uint64_t> optional_count(std::string_view key) {
    const json* v = find(key);
    if (v == nullptr) return std::nullopt;
    if (!v->is_number_unsigned()) {
      fail("field `" + std::string(key) + "` must be a non-negative integer");
      return std::nullopt;
    }
    return v->get<std::uint64_t>();
  }
  const std::optional<std::string>& error() const { return error_; }

 private:
  // Null counts as absent, as it does in the answers.
  const json* find(std::string_view key) const {
    auto it = obj_.find(key);
    if (it == obj_.end() || it->is_null()) return nullptr;
    return &*it;
  }
  void fail(std::string message) {
    if (!error_) error_ = std::move(message) + " for " + std::string(tag_);
  }

  const json& obj_;
  std::string_view tag_;
  std::optional<std::string> error_;
};

template <class C>
C read_cmd(FieldReader& r);

template <>
cmd::Open read_cmd(FieldReader& r) {
  cmd::Open c;
  c.path = r.path("path");
  c.wait = r.boolean("wait");
  c.source = r.optional_text("source");
  return c;
}
template <>
cmd::OpenFolder read_cmd(FieldReader& r) {
  return {r.path("path")};
}
template <>
cmd::Reveal read_cmd(FieldReader& r) {
  cmd::Reveal c;
  c.path = r.path("path");
  c.heading = r.optional_text("heading");
  return c;
}
template <>
cmd::Status read_cmd(FieldReader&) {
  return {};
}
template <>
cmd::GetContext read_cmd(FieldReader&) {
  return {};
}
template <>
cmd::ExecuteCommand read_cmd(FieldReader& r) {
  return {r.text("command")};
}
template <>
cmd::ReadSection read_cmd(FieldReader& r) {
  cmd::ReadSection c;
  c.path = r.path("path");
  c.heading = r.optional_text("heading");
  return c;
}
template <>
cmd::WriteSection read_cmd(FieldReader& r) {
  cmd::WriteSection c;
  c.path = r.path("path");
  c.heading = r.optional_text("heading");
  c.operation = r.text("operation");
  c.content = r.text("content");
  c.base_hash = r.optional_text("base_hash");
  return c;
}
template <>
cmd::WaitForChange read_cmd(FieldReader& r) {
  cmd::WaitForChange c;
  c.path = r.optional_path("path");
  c.workspace = r.optional_path("workspace");
  c.name = r.optional_text("name");
  c.timeout_secs = r.optional_count("timeout_secs");
  return c;
}
template <>
cmd::PostMessage read_cmd(FieldReader& r) {
  return {r.text("text")};
}
template <>
cmd::AttachSession read_cmd(FieldReader& r) {
  cmd::AttachSession c;
  c.cwd = r.path("cwd");
  c.token = r.optional_text("token");
  return c;
}

// Tries each alternative of Cmd in turn against the tag.
template <std::size_t I = 0>
std::optional<Cmd> read_tagged(std::string_view tag, FieldReader& r) {
  if constexpr (I == std::variant_size_v<Cmd>) {
    return std::nullopt;
  } else {
    using C = std::variant_alternative_t<I, Cmd>;
    if (tag == C::kTag) return Cmd{read_cmd<C>(r)};
    return read_tagged<I + 1>(tag, r);
  }
}

}  // namespace

std::expected<Request, RequestError> decode_request(std::string_view line) {
  std::vector<std::string> duplicates;
  auto parsed = parse_json(line, {.duplicates_at = &duplicates});
  if (!parsed) return std::unexpected(RequestError{std::nullopt, "not JSON: " + parsed.error()});
  if (!parsed->is_object()) return std::unexpected(RequestError{std::nullopt, "a request must be a JSON object"});
  const json& obj = *parsed;

  Request request;
  std::optional<std::uint64_t> id;
  if (auto it = obj.find("id"); it != obj.end() && it->is_number_unsigned()) id = it->get<std::uint64_t>();
  auto refuse = [&](std::string message) { return std::unexpected(RequestError{id, std::move(message)}); };
  if (!id) return refuse("missing or invalid `id` (a non-negative integer)");
  request.id = *id;
  if (std::find(duplicates.begin(), duplicates.end(), "") != duplicates.end()) {
    return refuse("a key is given twice");
  }

  auto proto = obj.find("proto");
  if (proto == obj.end() || !proto->is_number_unsigned()) return refuse("missing or invalid `proto`");
  if (proto->get<std::uint64_t>() != kProtoVersion) {
    return refuse("unsupported protocol version " + proto->dump() + " (this application speaks 1)");
  }
  if (auto session = obj.find("session"); session != obj.end() && !session->is_null()) {
    if (!session->is_number_unsigned()) return refuse("`session` must be a non-negative integer");
    request.session = session->get<std::uint64_t>();
  }
  auto tag = obj.find("cmd");
  if (tag == obj.end() || !tag->is_string()) return refuse("missing or invalid `cmd`");
  const std::string tag_text = tag->get<std::string>();
  FieldReader reader(obj, tag_text);
  auto cmd = read_tagged(tag_text, reader);
  if (!cmd) return refuse("unknown command `" + tag_text + "`");
  if (reader.error()) return refuse(*reader.error());
  request.cmd = std::move(*cmd);
  return request;
}

}  // namespace elmpad
