// The section model of a markdown note: ATX headings (not inside YAML
// frontmatter or fenced code), the sections they open, the anchors that name
// them, and section reads and writes. Pure: text in, text and JSON out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"

namespace elmpad::headless {

struct Line {
  std::string text;  // without its line ending
  std::string eol;   // "\n", "\r\n", or "" for a last line without one
};

struct Section {
  std::size_t begin = 0;  // the heading line
  std::size_t end = 0;    // one past the last line (children included)
  int level = 1;
  std::string text;                    // heading text, trimmed, closing #s removed
  std::vector<std::size_t> ancestors;  // enclosing sections, outermost first
  std::string anchor;                  // escaped; resolves to this section alone
};

/// What a line is to the section model. A heading is kHeading plus its level.
enum LineRole : std::uint8_t { kText, kFrontmatter, kCode, kHeading };

struct Document {
  std::vector<Line> lines;
  std::vector<std::uint8_t> roles;  // one LineRole (plus level) per line
  std::vector<Section> sections;    // in document order
  std::size_t body_start = 0;     // first line after YAML frontmatter
  std::string eol = "\n";         // the file's line ending, for inserted lines
};

Document parse_document(std::string_view text);
std::string render(const std::vector<Line>& lines);

/// Heading text written as an anchor: \ # and the colons that could read as
/// a "::" separator are escaped.
std::string escape_heading(std::string_view text);

/// The sections an anchor names: "a::b" ancestor paths, exact match first and
/// case-insensitive only when nothing matches exactly, a trailing #k picking
/// the k-th of several. Empty when nothing matches; several when ambiguous.
std::vector<std::size_t> resolve(const Document& doc, std::string_view anchor);

/// The concurrency token of a piece of text.
std::string text_token(std::string_view text);

/// A refusal: a code and string-only params, as the socket's error carries.
struct SectionError {
  std::string code;
  std::map<std::string, std::string> params;
};

/// read_section's data: the section (content, line range, token), or without
/// a heading the outline and the whole document.
[[nodiscard]] std::expected<json, SectionError> read_section(std::string_view text, const std::optional<std::string>& heading);

struct WriteRequest {
  std::optional<std::string> heading;
  std::string operation;  // "append", "prepend" or "replace"
  std::string content;
  std::optional<std::string> base_hash;
};

struct WriteResult {
  std::string text;  // the new document
  json data;         // what the write reports back
};

/// A write changes the note only where it writes: every line outside the
/// written block keeps its bytes and its meaning (text, frontmatter, code, or
/// a heading of its level). Content that would change that meaning, such as a
/// code fence it leaves open or a `---` line that would close the note's
/// opening `---` into frontmatter, is refused with "STRUCTURE_CHANGE" and
/// nothing is written.
[[nodiscard]] std::expected<WriteResult, SectionError> write_section(std::string_view text, const WriteRequest& request);

}  // namespace elmpad::headless
