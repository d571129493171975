// A tools/call's "arguments", read by the three rules every tool uses: a
// required text, an optional text and an optional count. Arguments that are
// not an object read as absent.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "json_text.h"
#include "mcp/tool_result.h"

namespace elmpad::mcp {

class ToolArgs {
 public:
  /// `arguments` must outlive this reader.
  explicit ToolArgs(const json& arguments) : arguments_(arguments) {}

  /// A string member, the empty one included; nullptr otherwise.
  [[nodiscard]] const std::string* string(const char* key) const;

  /// A string member that is not empty; missing(key) otherwise.
  [[nodiscard]] std::expected<std::string, ProtocolError> required_text(const char* key) const;

  /// A string member, the empty one included.
  [[nodiscard]] std::optional<std::string> optional_text(const char* key) const;

  /// Only a plain non-negative integer: the library keeps 30.0 and 1e2 as
  /// floating-point numbers and -5 as a signed one.
  [[nodiscard]] std::optional<std::uint64_t> optional_count(const char* key) const;

  /// "missing required argument: <key>", as invalid params.
  [[nodiscard]] static ProtocolError missing(const char* key);

 private:
  /// The member `key`, or nullptr.
  [[nodiscard]] const json* member(const char* key) const;

  const json& arguments_;
};

}  // namespace elmpad::mcp
