#include "json_text.h"

#include <algorithm>
#include <set>
#include <vector>

namespace elmpad {
namespace {

// nlohmann prefixes messages with "[json.exception.parse_error.101] "; the
// rest is the useful part.
std::string without_exception_id(const char* what) {
  std::string_view text(what);
  if (text.starts_with("[json.exception.")) {
    auto close = text.find("] ");
    if (close != std::string_view::npos) text.remove_prefix(close + 2);
  }
  return std::string(text);
}

// Counts nesting without recursing, skipping string contents, so that a line
// of a million '[' is refused before the parser builds anything.
bool nesting_exceeds(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') in_string = false;
      continue;
    }
    if (c == '"') in_string = true;
    else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

// The library's lexer takes a NUL byte for the end of the input, so
// `{"id":1}\0junk` would parse as `{"id":1}`. No JSON text holds a NUL (not
// even inside a string), and one that parsed can only hold it after the
// value: the fault is named where the parser would have named it.
std::string nul_after_value(std::string_view text, std::size_t at) {
  std::size_t line = 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
  std::size_t line_start = text.rfind('\n', at);
  std::size_t column = at - (line_start == std::string_view::npos ? 0 : line_start + 1) + 1;
  return "parse error at line " + std::to_string(line) + ", column " + std::to_string(column) +
         ": syntax error while parsing value - unexpected NUL byte; expected end of input";
}

template <class... Args>
std::expected<json, std::string> parse_whole(std::string_view text, Args&&... args) {
  json value = json::parse(text, std::forward<Args>(args)...);
  if (auto at = text.find('\0'); at != std::string_view::npos) return std::unexpected(nul_after_value(text, at));
  return value;
}

}  // namespace

std::string compact(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::expected<std::string, std::string> json_string(std::string_view text) {
  try {
    return json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::strict);
  } catch (const json::exception& e) {
    return std::unexpected(without_exception_id(e.what()));
  }
}

std::expected<json, std::string> parse_json(std::string_view text, ParseOptions options) {
  if (nesting_exceeds(text, kMaxJsonDepth)) {
    return std::unexpected("nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  }
  try {
    if (options.duplicates_at == nullptr) return parse_whole(text);
    // The location of each open container: the steps from the top ("[]" for
    // array elements), and the keys seen so far when it is an object.
    struct Open {
      std::string location;
      bool is_object;
      std::set<std::string> keys;
    };
    std::vector<Open> open;
    std::string last_key;
    auto child_location = [&open, &last_key]() {
      if (open.empty()) return std::string();
      const Open& parent = open.back();
      std::string step = parent.is_object ? last_key : "[]";
      return parent.location + "/" + step;
    };
    auto* duplicates = options.duplicates_at;
    json::parser_callback_t watch = [&](int, json::parse_event_t event, json& parsed) {
      switch (event) {
        case json::parse_event_t::object_start:
          open.push_back({child_location(), true, {}});
          break;
        case json::parse_event_t::array_start:
          open.push_back({child_location(), false, {}});
          break;
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
          if (!open.empty()) open.pop_back();
          break;
        case json::parse_event_t::key:
          last_key = parsed.get<std::string>();
          if (!open.empty() && !open.back().keys.insert(last_key).second) {
            duplicates->push_back(open.back().location);
          }
          break;
        default:
          break;
      }
      return true;
    };
    return parse_whole(text, watch);
  } catch (const json::exception& e) {
    return std::unexpected(without_exception_id(e.what()));
  }
}

}  // namespace elmpad
