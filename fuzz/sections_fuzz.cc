// The headless app's section model. Input: a header line (an operation
// letter a, p or r and the number of the target section, 0 for the whole
// note; any other letter reads the outline), the content, a 0x1E byte, then
// the note. Checked on every input:
// every anchor names its own section; a write changes nothing outside the
// place it writes, byte for byte and in meaning; reading the section back
// gives what was written; every other heading keeps its anchor when the
// write adds or removes none. A refusal for the note's structure is checked
// to have a reason in the content.
#include <algorithm>
#include <charconv>

#include "markdown_sections.h"
#include "support.h"

namespace {

using elmpad::fuzz::check;
using namespace elmpad::headless;

bool blank(std::string_view s) { return s.find_first_not_of(" \t\r") == std::string_view::npos; }

std::string_view trim(std::string_view s) {
  s.remove_prefix(std::min(s.find_first_not_of(" \t\r"), s.size()));
  return s.substr(0, s.find_last_not_of(" \t\r") + 1);
}

// A line's text as the model reads it: trailing carriage returns end it.
std::string_view bare(std::string_view s) {
  while (s.ends_with('\r')) s.remove_suffix(1);
  return s;
}

// The content's lines as a write takes them: split at line feeds, blank
// lines at either end dropped.
std::vector<std::string_view> block_of(std::string_view content) {
  std::vector<std::string_view> lines;
  for (auto piece : elmpad::fuzz::split_lines(content)) {
    lines.push_back(bare(piece.ends_with('\n') ? piece.substr(0, piece.size() - 1) : piece));
  }
  while (!lines.empty() && blank(lines.back())) lines.pop_back();
  auto first = std::find_if(lines.begin(), lines.end(), [](auto l) { return !blank(l); });
  lines.erase(lines.begin(), first);
  return lines;
}

// What can make a write change the note around it: a fence marker, or a
// line that closes frontmatter.
bool can_change_structure(const std::vector<std::string_view>& block) {
  return std::any_of(block.begin(), block.end(), [](std::string_view line) {
    std::string_view t = line.substr(std::min(line.find_first_not_of(' '), line.size()));
    return t.starts_with("```") || t.starts_with("~~~") || trim(line) == "---" || trim(line) == "...";
  });
}

void check_anchors(const Document& doc) {
  std::size_t step = std::max<std::size_t>(1, doc.sections.size() / 16);
  for (std::size_t s = 0; s < doc.sections.size(); s += step) {
    check(resolve(doc, doc.sections[s].anchor) == std::vector<std::size_t>{s}, "an anchor names its own section");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = elmpad::fuzz::as_text(data, size);
  std::size_t header_end = input.find('\n');
  std::size_t split = input.find('\x1e');
  if (header_end == std::string_view::npos || split == std::string_view::npos || split < header_end) return 0;
  const char op_letter = header_end > 0 ? input[0] : ' ';
  std::size_t target_number = 0;
  std::from_chars(input.data() + std::min<std::size_t>(1, header_end), input.data() + header_end, target_number);
  const std::string_view content = input.substr(header_end + 1, split - header_end - 1);
  const std::string note(input.substr(split + 1));

  const Document doc = parse_document(note);
  check(render(doc.lines) == note, "a note renders to its own bytes");
  check_anchors(doc);

  const std::string operation = op_letter == 'a' ? "append" : op_letter == 'p' ? "prepend" : op_letter == 'r' ? "replace" : "";
  if (operation.empty()) {
    auto whole = read_section(note, std::nullopt);
    check(whole.has_value() && (*whole)["outline"].size() == doc.sections.size(), "the outline lists every section");
    return 0;
  }
  WriteRequest request{std::nullopt, operation, std::string(content), std::nullopt};
  const Section* target = nullptr;
  if (target_number > 0 && target_number <= doc.sections.size()) {
    target = &doc.sections[target_number - 1];
    request.heading = target->anchor;
    if (operation == "replace") request.base_hash = (*read_section(note, target->anchor))["baseHash"].get<std::string>();
  }
  auto written = write_section(note, request);
  const auto block = block_of(content);
  if (!written) {
    check(written.error().code == "STRUCTURE_CHANGE" || (!target && operation == "replace"), "only a reason refuses");
    if (written.error().code == "STRUCTURE_CHANGE") check(can_change_structure(block), "a refusal has its cause in the content");
    return 0;
  }
  const Document after = parse_document(written->text);

  // The old lines [from, to) that the write takes the place of.
  const std::size_t n = doc.lines.size();
  std::size_t from = target ? target->begin + 1 : doc.body_start;
  std::size_t to = from;
  if (operation == "append") {
    from = to = target ? target->end : n;
    while (from > (target ? target->begin + 1 : doc.body_start) && blank(doc.lines[from - 1].text)) to = --from;
  } else if (operation == "replace") {
    to = target->end;
  }
  check(after.lines.size() + (to - from) >= n, "the lines around the write remain");
  const std::size_t block_end = after.lines.size() - (n - to);

  // Byte for byte around the write; a last line may gain its line ending.
  for (std::size_t i = 0; i < from; ++i) {
    const bool gained = doc.lines[i].eol.empty();
    check(gained ? bare(after.lines[i].text) == bare(doc.lines[i].text)
                 : after.lines[i].text == doc.lines[i].text && after.lines[i].eol == doc.lines[i].eol,
          "the note before the write is unchanged");
  }
  for (std::size_t i = to; i < n; ++i) {
    const Line& now = after.lines[block_end + i - to];
    check(now.text == doc.lines[i].text && now.eol == doc.lines[i].eol, "the note after the write is unchanged");
  }

  // What was written is what the place now holds, blank lines around it
  // aside; a replace leaves out a first line that repeats the heading line.
  std::vector<std::string_view> held;
  for (std::size_t i = from; i < block_end; ++i) held.push_back(bare(after.lines[i].text));
  while (!held.empty() && blank(held.back())) held.pop_back();
  while (!held.empty() && blank(held.front())) held.erase(held.begin());
  std::vector<std::string_view> expected = block;
  if (operation == "replace" && !expected.empty() && trim(expected.front()) == trim(doc.lines[target->begin].text)) {
    expected.erase(expected.begin());
    while (!expected.empty() && blank(expected.front())) expected.erase(expected.begin());
  }
  check(held == expected, "the place written holds the content");

  // Every heading outside the write is still there, the same; and, unless
  // the write added or removed headings, so is its anchor.
  std::vector<const Section*> outside_before, outside_after;
  std::size_t inside_before = 0, inside_after = 0;
  for (const auto& s : doc.sections) {
    if (s.begin >= from && s.begin < to) ++inside_before;
    else outside_before.push_back(&s);
  }
  for (const auto& s : after.sections) {
    if (s.begin >= from && s.begin < block_end) ++inside_after;
    else outside_after.push_back(&s);
  }
  check(outside_before.size() == outside_after.size(), "no heading outside the write appears or vanishes");
  for (std::size_t k = 0; k < outside_before.size(); ++k) {
    const Section& was = *outside_before[k];
    const Section& is = *outside_after[k];
    check(is.begin == (was.begin < from ? was.begin : block_end + was.begin - to) && is.level == was.level &&
              is.text == was.text,
          "a heading outside the write keeps its place, level and text");
    if (inside_before == 0 && inside_after == 0) check(is.anchor == was.anchor, "a heading keeps its anchor");
  }
  check_anchors(after);

  if (target) {
    check(written->data["startLine"] == target->begin + 1 && written->data["heading"].is_string(), "the write names its section");
    auto back = read_section(written->text, written->data["heading"].get<std::string>());
    check(back.has_value() && (*back)["startLine"] == target->begin + 1 && (*back)["baseHash"] == written->data["baseHash"],
          "the section reads back as the write reported it");
  }
  return 0;
}
