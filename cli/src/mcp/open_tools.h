// The tools that act on the application's window: open_file and reveal
// (one handler), open_folder, get_context and execute_command.
#pragma once

#include <optional>
#include <string>

#include "app_client/exchange.h"
#include "json_text.h"
#include "run_err.h"

namespace elmpad::mcp {

/// open_file (reveal false; `heading` ignored) or reveal. Launches the app
/// when needed. "PATH_IS_DIRECTORY" for a directory, before connecting.
Result<json> open_or_reveal(const std::string& path, const std::optional<std::string>& heading, bool reveal);

/// Launches the app when needed. "NOT_A_DIRECTORY" unless `path` is one.
Result<json> open_folder(const std::string& path);

/// Never launches: {"running":false,"version":…} when the app is absent;
/// the tool's own version is set in every object it returns.
Result<Payload> get_context();

/// Never launches: "NOT_RUNNING" when the app is absent.
Result<Payload> execute_command(const std::string& id);

}  // namespace elmpad::mcp
