#include "markdown_sections.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <unordered_map>

namespace elmpad::headless {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (is_space(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (is_space(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool is_blank(std::string_view s) { return trim(s).empty(); }

std::size_t indent_of(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && s[n] == ' ') ++n;
  return n;
}

// An ATX heading: up to three spaces, one to six #, then a space, a tab or
// the end of the line. Returns the level and the trimmed text without its
// closing sequence of #.
std::optional<std::pair<int, std::string>> atx_heading(std::string_view line) {
  // A carriage return ends the line like the line feed does: `#\r` as the
  // last line is a heading, as it becomes once a line feed follows it.
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t i = indent_of(line);
  if (i > 3) return std::nullopt;
  std::size_t hashes = 0;
  while (i + hashes < line.size() && line[i + hashes] == '#') ++hashes;
  if (hashes == 0 || hashes > 6) return std::nullopt;
  std::string_view rest = line.substr(i + hashes);
  if (!rest.empty() && !is_space(rest.front())) return std::nullopt;
  rest = trim(rest);
  // A closing run of # counts only when a space precedes it (or it is all).
  std::size_t k = rest.size();
  while (k > 0 && rest[k - 1] == '#') --k;
  if (k == 0) {
    rest = {};
  } else if (k < rest.size() && is_space(rest[k - 1])) {
    rest = trim(rest.substr(0, k));
  }
  return std::pair{static_cast<int>(hashes), std::string(rest)};
}

// The opening of a fenced code block: its fence character and length.
std::optional<std::pair<char, std::size_t>> fence_open(std::string_view line) {
  std::size_t i = indent_of(line);
  if (i > 3 || i >= line.size() || (line[i] != '`' && line[i] != '~')) return std::nullopt;
  char c = line[i];
  std::size_t n = 0;
  while (i + n < line.size() && line[i + n] == c) ++n;
  if (n < 3) return std::nullopt;
  if (c == '`' && line.substr(i + n).find('`') != std::string_view::npos) return std::nullopt;
  return std::pair{c, n};
}

bool fence_closes(std::string_view line, char c, std::size_t len) {
  std::size_t i = indent_of(line);
  if (i > 3) return false;
  std::size_t n = 0;
  while (i + n < line.size() && line[i + n] == c) ++n;
  return n >= len && is_blank(line.substr(i + n));
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

struct ParsedAnchor {
  std::vector<std::string> segments;
  // A trailing unescaped #k on the last segment: the segment without it, k,
  // and the segment with it, for when #k turns out to be part of the text.
  std::optional<std::size_t> k;
  std::string last_without_k;
};

ParsedAnchor parse_anchor(std::string_view anchor) {
  ParsedAnchor out;
  std::string current;
  std::size_t hash_at = std::string::npos;  // last unescaped # in `current`
  for (std::size_t i = 0; i < anchor.size(); ++i) {
    char c = anchor[i];
    if (c == '\\' && i + 1 < anchor.size() &&
        (anchor[i + 1] == '#' || anchor[i + 1] == ':' || anchor[i + 1] == '\\')) {
      current += anchor[++i];
    } else if (c == ':' && i + 1 < anchor.size() && anchor[i + 1] == ':') {
      out.segments.push_back(std::string(trim(current)));
      current.clear();
      hash_at = std::string::npos;
      ++i;
    } else {
      if (c == '#') hash_at = current.size();
      current += c;
    }
  }
  if (hash_at != std::string::npos && hash_at + 1 < current.size()) {
    std::string digits = current.substr(hash_at + 1);
    bool all_digits = digits.size() <= 9;
    for (char d : digits) all_digits = all_digits && d >= '0' && d <= '9';
    if (all_digits && std::stoul(digits) > 0) {
      out.k = std::stoul(digits);
      out.last_without_k = std::string(trim(std::string_view(current).substr(0, hash_at)));
    }
  }
  out.segments.push_back(std::string(trim(current)));
  return out;
}

// Sections whose heading matches the last segment and whose nearest
// ancestors match the earlier segments: "a::b" is a b directly under an a.
std::vector<std::size_t> match_path(const Document& doc, const std::vector<std::string>& segments, bool fold) {
  auto same = [fold](std::string_view a, std::string_view b) { return fold ? ascii_lower(a) == ascii_lower(b) : a == b; };
  std::vector<std::size_t> out;
  for (std::size_t s = 0; s < doc.sections.size(); ++s) {
    const Section& sec = doc.sections[s];
    if (!same(sec.text, segments.back())) continue;
    std::size_t want = segments.size() - 1;  // segments still to match
    if (want > sec.ancestors.size()) continue;
    bool all = true;
    for (std::size_t i = 0; i < want && all; ++i) {
      all = same(doc.sections[sec.ancestors[sec.ancestors.size() - 1 - i]].text, segments[want - 1 - i]);
    }
    if (all) out.push_back(s);
  }
  return out;
}

std::vector<std::size_t> match_either_case(const Document& doc, const std::vector<std::string>& segments) {
  auto exact = match_path(doc, segments, false);
  return exact.empty() ? match_path(doc, segments, true) : exact;
}

// A generated anchor names exactly the sections whose heading and nearest
// ancestors carry the same texts (the texts match exactly, so the
// case-insensitive fallback never applies). Grouping sections by those texts
// finds every anchor in one pass per depth: resolving each candidate anchor
// against the whole document made a note with thousands of repeated headings
// take minutes.
void assign_anchors(Document& doc) {
  using Key = std::vector<std::string_view>;  // own text, then ancestors nearest first
  struct KeyHash {
    std::size_t operator()(const Key& key) const {
      std::size_t h = 0;
      for (std::string_view part : key) h = h * 1000003 ^ std::hash<std::string_view>{}(part);
      return h;
    }
  };
  auto key_of = [&doc](const Section& sec, std::size_t depth) {
    Key key{sec.text};
    for (std::size_t i = 0; i < depth; ++i) key.push_back(doc.sections[sec.ancestors[sec.ancestors.size() - 1 - i]].text);
    return key;
  };
  // Groups are hashed, not ordered, and most headings are named by their
  // text alone: one lookup each. Only headings that share their text are
  // grouped again with their ancestors (their namesakes at any depth share
  // the text too), so the cost per heading does not grow with the note.
  const std::size_t count = doc.sections.size();
  std::unordered_map<std::string_view, std::vector<std::size_t>> by_text;
  by_text.reserve(count);
  std::vector<const std::vector<std::size_t>*> same_text(count);
  for (std::size_t s = 0; s < count; ++s) {
    auto& group = by_text[doc.sections[s].text];
    group.push_back(s);
    same_text[s] = &group;
  }
  std::size_t max_depth = 0;
  for (std::size_t s = 0; s < count; ++s) {
    if (same_text[s]->size() > 1) max_depth = std::max(max_depth, doc.sections[s].ancestors.size());
  }
  std::vector<std::unordered_map<Key, std::vector<std::size_t>, KeyHash>> namesakes(max_depth + 1);
  for (std::size_t depth = 1; depth <= max_depth; ++depth) {
    for (std::size_t s = 0; s < count; ++s) {
      const Section& sec = doc.sections[s];
      if (same_text[s]->size() > 1 && sec.ancestors.size() >= depth) namesakes[depth][key_of(sec, depth)].push_back(s);
    }
  }
  for (std::size_t s = 0; s < count; ++s) {
    Section& sec = doc.sections[s];
    // Shortest first: the text alone, then with more and more ancestors.
    std::string anchor = escape_heading(sec.text);
    std::size_t depth = 0;
    const std::vector<std::size_t>* same = same_text[s];
    while (same->size() > 1 && depth < sec.ancestors.size()) {
      ++depth;
      anchor = escape_heading(doc.sections[sec.ancestors[sec.ancestors.size() - depth]].text) + "::" + anchor;
      same = &namesakes[depth][key_of(sec, depth)];
    }
    if (same->size() > 1) {
      // Same path, same text: the position among the namesakes tells them
      // apart. They were listed in document order, so a binary search finds
      // it (a linear one made 200,000 equal headings take seconds).
      auto at = std::lower_bound(same->begin(), same->end(), s);
      anchor += "#" + std::to_string(at - same->begin() + 1);
    }
    sec.anchor = anchor;
  }
}

// Content as lines: "\r\n" or "\n" separated, one final line ending ignored,
// blank lines at either end dropped (separation is added where it lands).
std::vector<std::string> content_lines(std::string_view content) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= content.size()) {
    std::size_t nl = content.find('\n', start);
    if (nl == std::string_view::npos) nl = content.size();
    std::string_view piece = content.substr(start, nl - start);
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    out.emplace_back(piece);
    start = nl + 1;
  }
  while (!out.empty() && is_blank(out.back())) out.pop_back();
  std::size_t lead = 0;
  while (lead < out.size() && is_blank(out[lead])) ++lead;
  out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(lead));
  return out;
}

// Inserts `block` at line `pos` with a blank line between it and any
// non-blank neighbour.
void insert_block(std::vector<Line>& lines, std::size_t pos, const std::vector<std::string>& block,
                  const std::string& eol) {
  if (block.empty()) return;
  std::vector<Line> ins;
  if (pos > 0 && !is_blank(lines[pos - 1].text)) ins.push_back({"", eol});
  for (const auto& b : block) ins.push_back({b, eol});
  if (pos < lines.size() && !is_blank(lines[pos].text)) ins.push_back({"", eol});
  if (pos > 0 && lines[pos - 1].eol.empty()) lines[pos - 1].eol = eol;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos), ins.begin(), ins.end());
}

std::string lines_text(const std::vector<Line>& lines, std::size_t begin, std::size_t end) {
  std::string out;
  for (std::size_t i = begin; i < end && i < lines.size(); ++i) out += lines[i].text + lines[i].eol;
  return out;
}

// What callers see: "\n" line endings whatever the file uses.
std::string as_lf(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string section_raw(const Document& doc, const Section& sec) { return lines_text(doc.lines, sec.begin, sec.end); }
std::string body_lf(const Document& doc, const Section& sec) {
  return as_lf(lines_text(doc.lines, sec.begin + 1, sec.end));
}

json section_json(const Document& doc, const Section& sec) {
  return json{{"heading", sec.anchor},
              {"level", sec.level},
              {"headingLine", doc.lines[sec.begin].text},
              {"content", body_lf(doc, sec)},
              {"startLine", sec.begin + 1},
              {"endLine", sec.end},
              {"baseHash", text_token(section_raw(doc, sec))}};
}

std::string join_anchors(const Document& doc, const std::vector<std::size_t>& which) {
  std::string out;
  for (std::size_t s : which) out += (out.empty() ? "" : "\n") + doc.sections[s].anchor;
  return out;
}

std::string role_name(std::uint8_t role) {
  if (role >= kHeading) return "a level-" + std::to_string(role - kHeading) + " heading";
  return role == kFrontmatter ? "frontmatter" : role == kCode ? "code" : "text";
}

// The first line outside the written block whose meaning the new document
// changes (blank lines mean the same anywhere). The block took the place of
// the old lines [from, to); the lines around it keep their order.
std::optional<std::size_t> changed_outside(const Document& before, const Document& after, std::size_t from,
                                           std::size_t to) {
  const std::size_t block_end = after.lines.size() - (before.lines.size() - to);
  auto changed = [&](std::size_t old_line, std::size_t new_line) {
    return before.roles[old_line] != after.roles[new_line] && !is_blank(before.lines[old_line].text);
  };
  for (std::size_t i = 0; i < from; ++i) {
    if (changed(i, i)) return i;
  }
  for (std::size_t i = to; i < before.lines.size(); ++i) {
    if (changed(i, block_end + (i - to))) return i;
  }
  return std::nullopt;
}

// One section, or the refusal for none or several.
std::expected<std::size_t, SectionError> find_one(const Document& doc, const std::string& heading) {
  auto found = resolve(doc, heading);
  if (found.empty()) {
    return std::unexpected(SectionError{"HEADING_NOT_FOUND", {{"heading", heading}, {"detail", "no section is named '" + heading + "'"}}});
  }
  if (found.size() > 1) {
    return std::unexpected(SectionError{
        "AMBIGUOUS_HEADING",
        {{"heading", heading},
         {"candidates", join_anchors(doc, found)},
         {"detail", "'" + heading + "' names " + std::to_string(found.size()) +
                        " sections; pass one of the candidate anchors (one per line)"}}});
  }
  return found.front();
}

}  // namespace

Document parse_document(std::string_view text) {
  Document doc;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    Line line;
    if (nl == std::string_view::npos) {
      line.text = std::string(text.substr(start));
      start = text.size();
    } else {
      std::string_view piece = text.substr(start, nl - start);
      bool crlf = !piece.empty() && piece.back() == '\r';
      if (crlf) piece.remove_suffix(1);
      line.text = std::string(piece);
      line.eol = crlf ? "\r\n" : "\n";
      start = nl + 1;
    }
    doc.lines.push_back(std::move(line));
  }
  for (const auto& l : doc.lines) {
    if (!l.eol.empty()) {
      doc.eol = l.eol;
      break;
    }
  }

  // YAML frontmatter: "---" on the first line up to a closing "---" or "...".
  if (!doc.lines.empty() && trim(doc.lines[0].text) == "---") {
    for (std::size_t i = 1; i < doc.lines.size(); ++i) {
      auto t = trim(doc.lines[i].text);
      if (t == "---" || t == "...") {
        doc.body_start = i + 1;
        break;
      }
    }
  }
  doc.roles.assign(doc.lines.size(), kText);
  std::fill_n(doc.roles.begin(), doc.body_start, kFrontmatter);

  std::optional<std::pair<char, std::size_t>> fence;
  std::vector<std::size_t> open;  // the enclosing sections while scanning
  for (std::size_t i = doc.body_start; i < doc.lines.size(); ++i) {
    const std::string& t = doc.lines[i].text;
    if (fence) {
      doc.roles[i] = kCode;
      if (fence_closes(t, fence->first, fence->second)) fence.reset();
      continue;
    }
    if ((fence = fence_open(t))) {
      doc.roles[i] = kCode;
      continue;
    }
    auto h = atx_heading(t);
    if (!h) continue;
    doc.roles[i] = static_cast<std::uint8_t>(kHeading + h->first);
    while (!open.empty() && doc.sections[open.back()].level >= h->first) {
      doc.sections[open.back()].end = i;
      open.pop_back();
    }
    Section sec;
    sec.begin = i;
    sec.level = h->first;
    sec.text = std::move(h->second);
    sec.ancestors = open;
    open.push_back(doc.sections.size());
    doc.sections.push_back(std::move(sec));
  }
  for (std::size_t s : open) doc.sections[s].end = doc.lines.size();
  assign_anchors(doc);
  return doc;
}

std::string render(const std::vector<Line>& lines) { return lines_text(lines, 0, lines.size()); }

std::string escape_heading(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool colon_pair = c == ':' && (i + 1 == text.size() || text[i + 1] == ':');
    if (c == '\\' || c == '#' || colon_pair) out += '\\';
    out += c;
  }
  return out;
}

std::vector<std::size_t> resolve(const Document& doc, std::string_view anchor) {
  ParsedAnchor parsed = parse_anchor(anchor);
  if (parsed.k) {
    auto segments = parsed.segments;
    segments.back() = parsed.last_without_k;
    auto several = match_either_case(doc, segments);
    if (several.size() > 1) {
      if (*parsed.k > several.size()) return {};
      return {several[*parsed.k - 1]};
    }
  }
  return match_either_case(doc, parsed.segments);
}

std::string text_token(std::string_view text) {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

std::expected<json, SectionError> read_section(std::string_view text, const std::optional<std::string>& heading) {
  Document doc = parse_document(text);
  if (heading) {
    auto s = find_one(doc, *heading);
    if (!s) return std::unexpected(s.error());
    return section_json(doc, doc.sections[*s]);
  }
  json outline = json::array();
  for (const auto& sec : doc.sections) {
    outline.push_back(json{{"anchor", sec.anchor},
                           {"level", sec.level},
                           {"text", sec.text},
                           {"startLine", sec.begin + 1},
                           {"endLine", sec.end}});
  }
  return json{{"outline", outline},
              {"content", as_lf(std::string(text))},
              {"lineCount", doc.lines.size()},
              {"baseHash", text_token(text)}};
}

std::expected<WriteResult, SectionError> write_section(std::string_view text, const WriteRequest& request) {
  const std::string& op = request.operation;
  if (op != "append" && op != "prepend" && op != "replace") {
    return std::unexpected(SectionError{
        "INVALID_OPERATION", {{"operation", op}, {"detail", "operation must be append, prepend or replace"}}});
  }
  if (op == "replace" && !request.heading) {
    return std::unexpected(SectionError{
        "INVALID_OPERATION",
        {{"operation", op}, {"detail", "replace needs a heading: the whole document cannot be replaced"}}});
  }
  Document doc = parse_document(text);
  std::optional<std::size_t> target;
  if (request.heading) {
    auto s = find_one(doc, *request.heading);
    if (!s) return std::unexpected(s.error());
    target = *s;
  }
  const std::string current = target ? section_raw(doc, doc.sections[*target]) : std::string(text);
  const std::string token = text_token(current);
  if (op == "replace" && !request.base_hash) {
    return std::unexpected(SectionError{
        "BASE_HASH_REQUIRED",
        {{"detail", "replace needs baseHash from read_section"}, {"baseHash", token}}});
  }
  if (request.base_hash && *request.base_hash != token) {
    return std::unexpected(SectionError{
        "CONFLICT",
        {{"detail", "the section changed since it was read; retry with this baseHash"},
         {"heading", target ? doc.sections[*target].anchor : ""},
         {"content", target ? body_lf(doc, doc.sections[*target]) : as_lf(current)},
         {"baseHash", token}}});
  }

  std::vector<Line> lines = doc.lines;
  std::vector<std::string> block = content_lines(request.content);
  // The old lines [from, to) that the written block takes the place of.
  std::size_t from = 0;
  std::size_t to = 0;
  if (!target) {
    if (op == "prepend") {
      from = to = doc.body_start;
    } else {
      from = to = lines.size();
      while (from > doc.body_start && is_blank(lines[from - 1].text)) to = --from;
    }
    insert_block(lines, from, block, doc.eol);
  } else {
    const Section& sec = doc.sections[*target];
    if (op == "prepend") {
      from = to = sec.begin + 1;
      insert_block(lines, from, block, doc.eol);
    } else if (op == "append") {
      from = to = sec.end;
      while (from > sec.begin + 1 && is_blank(lines[from - 1].text)) to = --from;
      insert_block(lines, from, block, doc.eol);
    } else {
      from = sec.begin + 1;
      to = sec.end;
      // The heading line stays; content that repeats it would duplicate it.
      if (!block.empty() && trim(block.front()) == trim(lines[sec.begin].text)) {
        block.erase(block.begin());
        while (!block.empty() && is_blank(block.front())) block.erase(block.begin());
      }
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(sec.begin + 1),
                  lines.begin() + static_cast<std::ptrdiff_t>(sec.end));
      if (block.empty() && sec.begin + 1 < lines.size()) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sec.begin + 1), Line{"", doc.eol});
      }
      insert_block(lines, sec.begin + 1, block, doc.eol);
    }
  }

  WriteResult out;
  out.text = render(lines);
  Document after = parse_document(out.text);
  if (auto line = changed_outside(doc, after, from, to)) {
    std::size_t at = *line < from ? *line : after.lines.size() - (doc.lines.size() - *line);
    return std::unexpected(SectionError{
        "STRUCTURE_CHANGE",
        {{"line", std::to_string(*line + 1)},
         {"detail", "the content would turn line " + std::to_string(*line + 1) + " of the note, outside the " +
                        (target ? "section" : "place") + " written, from " + role_name(doc.roles[*line]) +
                        " into " + role_name(after.roles[at]) +
                        " (a code fence left open, or a --- line closing the note's opening --- as frontmatter, "
                        "does that); nothing was written"}}});
  }
  out.data = json{{"operation", op}, {"written", true}};
  if (target) {
    for (const auto& sec : after.sections) {
      if (sec.begin == doc.sections[*target].begin) {
        out.data["heading"] = sec.anchor;
        out.data["startLine"] = sec.begin + 1;
        out.data["endLine"] = sec.end;
        out.data["baseHash"] = text_token(section_raw(after, sec));
      }
    }
  } else {
    out.data["heading"] = nullptr;
    out.data["baseHash"] = text_token(out.text);
  }
  return out;
}

}  // namespace elmpad::headless
