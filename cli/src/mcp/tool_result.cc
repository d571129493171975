#include "mcp/tool_result.h"

#include "app_client/error_envelope.h"

namespace elmpad::mcp {
namespace {

constexpr const char* kTextItemHead = R"({"content":[{"text":")";
constexpr const char* kTextItemTail = R"(","type":"text"}]})";

// The result object around one text item holding `text`.
ToolResult text_result(const std::string& text, bool is_error) {
  std::string item = compact(json{{"text", text}, {"type", "text"}});
  return ToolResult{R"({"content":[)" + item + (is_error ? R"(],"isError":true})" : "]}"), std::nullopt, ""};
}

}  // namespace

ToolResult tool_ok(Payload payload) {
  if (auto* raw = std::get_if<RawJson>(&payload)) return ToolResult{kTextItemHead, std::move(*raw), kTextItemTail};
  return text_result(compact(std::get<json>(payload)), false);
}

ToolResult tool_err(const RunErr& err) { return text_result(compact(error_envelope(err)), true); }

}  // namespace elmpad::mcp
