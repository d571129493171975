// The one way JSON leaves this program: compact, keys in byte order (the
// library's default object is a sorted map), non-ASCII as UTF-8, and a
// bounded-depth, optionally duplicate-rejecting parser for untrusted input.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace elmpad {

using json = nlohmann::json;

/// Deeper input is refused: printing, copying and comparing values recurse.
inline constexpr std::size_t kMaxJsonDepth = 256;

/// Compact text of `value`. Never throws: string bytes that are not UTF-8
/// (only possible for values built in memory) become U+FFFD.
std::string compact(const json& value);

/// JSON text of one string, with the standard escapes. Fails with the
/// library's message when `text` is not valid UTF-8.
[[nodiscard]] std::expected<std::string, std::string> json_string(std::string_view text);

struct ParseOptions {
  /// When set, receives the location of every object in which a key was
  /// given twice: "" for the top level, and each step below it prefixed by
  /// '/' ("/error" for the object under the top-level key "error", "/[]" for
  /// an array element), so that no key, not even "", can pose as another
  /// place. The library itself silently keeps the last value; the caller
  /// decides whether that matters.
  std::vector<std::string>* duplicates_at = nullptr;
};

/// Parses one JSON text; whitespace around the value is allowed, anything
/// else after it (a NUL byte included) is an error. The error is
/// the parser's description of the fault (with its position), or a sentence
/// naming excessive nesting.
[[nodiscard]] std::expected<json, std::string> parse_json(std::string_view text, ParseOptions options = {});

}  // namespace elmpad
