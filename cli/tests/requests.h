// Expected bytes for end-to-end tests: the request lines the tool writes and
// the JSON lines it prints, spelled out so that a test reads like a transcript.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "json_text.h"

namespace elmpad::testing {

/// A JSON string literal for `text` (which must be UTF-8).
inline std::string quoted(const std::string& text) { return json_string(text).value(); }

inline std::string open_request(int id, const std::string& path, bool wait,
                                const std::optional<std::string>& source = std::nullopt) {
  std::string line = "{\"id\":" + std::to_string(id) + ",\"proto\":1,\"cmd\":\"open\",\"path\":" + quoted(path) +
                     ",\"wait\":" + (wait ? "true" : "false");
  if (source) line += ",\"source\":" + quoted(*source);
  return line + "}\n";
}

inline std::string folder_request(const std::string& path) {
  return "{\"id\":1,\"proto\":1,\"cmd\":\"open_folder\",\"path\":" + quoted(path) + "}\n";
}

inline std::string reveal_request(const std::string& path, const std::optional<std::string>& heading = std::nullopt) {
  std::string line = "{\"id\":1,\"proto\":1,\"cmd\":\"reveal\",\"path\":" + quoted(path);
  if (heading) line += ",\"heading\":" + quoted(*heading);
  return line + "}\n";
}

/// The --json failure line.
inline std::string failure_line(const std::string& code, const std::string& detail) {
  return "{\"error\":{\"code\":" + quoted(code) + ",\"params\":{\"detail\":" + quoted(detail) + "}},\"ok\":false}\n";
}

/// The --json success line around a data object given as JSON text.
inline std::string success_line(const std::string& data) { return "{\"data\":" + data + ",\"ok\":true}\n"; }

}  // namespace elmpad::testing
