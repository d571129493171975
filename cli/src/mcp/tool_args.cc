#include "mcp/tool_args.h"

namespace elmpad::mcp {

const json* ToolArgs::member(const char* key) const {
  if (!arguments_.is_object()) return nullptr;
  auto it = arguments_.find(key);
  return it == arguments_.end() ? nullptr : &*it;
}

const std::string* ToolArgs::string(const char* key) const {
  const json* value = member(key);
  if (value == nullptr || !value->is_string()) return nullptr;
  return &value->get_ref<const std::string&>();
}

std::expected<std::string, ProtocolError> ToolArgs::required_text(const char* key) const {
  const std::string* text = string(key);
  if (text == nullptr || text->empty()) return std::unexpected(missing(key));
  return *text;
}

std::optional<std::string> ToolArgs::optional_text(const char* key) const {
  const std::string* text = string(key);
  if (text == nullptr) return std::nullopt;
  return *text;
}

std::optional<std::uint64_t> ToolArgs::optional_count(const char* key) const {
  const json* value = member(key);
  if (value == nullptr || !value->is_number_unsigned()) return std::nullopt;
  return value->get<std::uint64_t>();
}

ProtocolError ToolArgs::missing(const char* key) {
  return ProtocolError{kInvalidParams, std::string("missing required argument: ") + key};
}

}  // namespace elmpad::mcp
