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

namespace {

// Follows the parse event by event, keeping, for each open container, whether
// it is the value at the start of `path` (and which key comes next in it).
class NumberAtPath : public nlohmann::json_sax<json> {
 public:
  explicit NumberAtPath(std::initializer_list<std::string_view> path) : path_(path) {}
  std::optional<std::string> found;

  bool null() override { return value(std::nullopt); }
  bool boolean(bool) override { return value(std::nullopt); }
  // The lexer reads a number with a leading '-' as signed, any other as
  // unsigned: a signed zero can only have been written -0.
  bool number_integer(number_integer_t n) override { return value(n == 0 ? "-0" : std::to_string(n)); }
  bool number_unsigned(number_unsigned_t n) override { return value(std::to_string(n)); }
  bool number_float(number_float_t, const string_t& text) override { return value(text); }
  bool string(string_t&) override { return value(std::nullopt); }
  bool binary(binary_t&) override { return value(std::nullopt); }
  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool key(string_t& key) override {
    Open& top = open_.back();
    top.next_on_path = top.on_path && key == path_.begin()[open_.size() - 1];
    return true;
  }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const json::exception&) override { return false; }

 private:
  struct Open {
    bool on_path;       // this container is the value at path[0 .. depth)
    bool next_on_path;  // the value that comes next is the value at path[0 .. depth]
  };
  // Whether the value starting now lies on the path, and whether it is its end.
  bool here() const { return open_.empty() || open_.back().next_on_path; }
  bool at_end() const { return here() && open_.size() == path_.size(); }
  bool value(std::optional<std::string> number) {
    if (at_end()) found = std::move(number);
    return true;
  }
  bool open(bool is_object) {
    if (at_end()) found.reset();
    open_.push_back({is_object && here() && open_.size() < path_.size(), false});
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }
  std::initializer_list<std::string_view> path_;
  std::vector<Open> open_;
};

}  // namespace

std::optional<std::string> number_text_at(std::string_view text, std::initializer_list<std::string_view> path) {
  if (nesting_exceeds(text, kMaxJsonDepth)) return std::nullopt;
  NumberAtPath walker(path);
  try {
    if (!json::sax_parse(text, &walker) || text.find('\0') != std::string_view::npos) return std::nullopt;
  } catch (const json::exception&) {
    return std::nullopt;
  }
  return std::move(walker.found);
}

}  // namespace elmpad
