// read_section and write_section: one section of a note inside the user's
// live buffer. Every section rule is the application's; this side forwards.
#pragma once

#include <optional>
#include <string>

#include "app_client/exchange.h"
#include "json_text.h"
#include "run_err.h"

namespace elmpad::mcp {

/// What makes a section request a write.
struct WriteBundle {
  std::string operation;
  std::string content;
  std::optional<std::string> base_hash;
};

/// Reads (no `write`) or writes one section. Never launches the app:
/// "NOT_RUNNING" when it is absent. "PATH_IS_DIRECTORY" before connecting.
Result<Payload> section_request(const std::string& path, const std::optional<std::string>& heading,
                                const std::optional<WriteBundle>& write);

}  // namespace elmpad::mcp
