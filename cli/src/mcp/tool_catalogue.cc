#include "mcp/tool_catalogue.h"

namespace elmpad::mcp {

json tool_schemas() {
  // The text is fixed at build time and a test parses it, so a failure here
  // cannot happen in a shipped binary; an empty list is the safe answer.
  auto tools = parse_json(kToolCatalogueText);
  if (!tools || !tools->is_array()) return json::array();
  return std::move(*tools);
}

}  // namespace elmpad::mcp
