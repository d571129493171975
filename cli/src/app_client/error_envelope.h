// A failure as both front ends report it in JSON: the command line's --json
// failure line and the MCP tool result marked as an error.
#pragma once

#include "json_text.h"
#include "run_err.h"

namespace elmpad {

/// {"error":{"code":…,"params":{"detail":…}},"ok":false}
json error_envelope(const RunErr& err);

}  // namespace elmpad
