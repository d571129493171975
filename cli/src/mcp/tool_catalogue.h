// The tools the MCP server offers, with their descriptions and input
// schemas. The catalogue is data: tool_catalogue.json, compiled in.
#pragma once

#include <string_view>

#include "json_text.h"

namespace elmpad::mcp {

/// The text of tool_catalogue.json as compiled in.
extern const std::string_view kToolCatalogueText;

/// The catalogue as a JSON array, in offering order; built anew on each call.
[[nodiscard]] json tool_schemas();

}  // namespace elmpad::mcp
