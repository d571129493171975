#include "mcp/tool_result.h"

#include <memory>

#include "app_client/error_envelope.h"

namespace elmpad::mcp {
namespace {

// The result object around one text item whose text is `quoted`, the JSON
// string holding the payload's compact text.
ToolResult text_result(SplicedText quoted) {
  ObjectText item;
  item.set("text", std::move(quoted)).set("type", R"("text")");
  SplicedText content("[");
  content.append(std::move(item).text());
  content += "]";
  ToolResult result;
  result.set("content", std::move(content));
  return result;
}

}  // namespace

ToolResult tool_ok(Payload payload, bool structured) {
  SplicedText quoted, itself;
  if (auto* raw = std::get_if<RawJson>(&payload)) {
    auto value = std::make_shared<RawJson>(std::move(*raw));
    quoted = SplicedText("\"");
    quoted.append(SplicedText(value, true));
    quoted += "\"";
    itself = SplicedText(std::move(value), false);
  } else {
    std::string text = compact(std::get<json>(payload));
    quoted = compact(json(text));
    itself = std::move(text);
  }
  ToolResult result = text_result(std::move(quoted));
  if (structured) result.set("structuredContent", std::move(itself));
  return result;
}

ToolResult tool_err(const RunErr& err) {
  ToolResult result = text_result(compact(json(compact(error_envelope(err)))));
  result.set("isError", "true");
  return result;
}

}  // namespace elmpad::mcp
