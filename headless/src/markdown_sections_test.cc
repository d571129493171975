#include "markdown_sections.h"

#include <fstream>

#include <gtest/gtest.h>

#include "case_file.h"
#include "server_msg.h"
#include "utf8.h"

namespace elmpad::headless {
namespace {

// A journal repeats its headings thousands of times; naming them all must
// stay proportionate to the note (this used to take minutes).
TEST(ParseDocument, NamesThousandsOfRepeatedHeadings) {
  constexpr std::size_t kDays = 3000;
  std::string text;
  for (std::size_t i = 0; i < kDays; ++i) text += "# Day\n## Notes\ntext\n## Plan " + std::to_string(i) + "\n";
  Document doc = parse_document(text);
  ASSERT_EQ(doc.sections.size(), 3 * kDays);
  for (std::size_t i : {std::size_t{0}, std::size_t{1234}, kDays - 1}) {
    EXPECT_EQ(doc.sections[3 * i].anchor, "Day#" + std::to_string(i + 1));
    EXPECT_EQ(doc.sections[3 * i + 1].anchor, "Day::Notes#" + std::to_string(i + 1));
    EXPECT_EQ(doc.sections[3 * i + 2].anchor, "Plan " + std::to_string(i));
    for (std::size_t s = 3 * i; s < 3 * i + 3; ++s) EXPECT_EQ(resolve(doc, doc.sections[s].anchor), std::vector<std::size_t>{s});
  }
}

// The namesakes of one flat run are told apart by position. Finding that
// position by a linear search made one write on this note take seconds
// under the document lock (the ctest timeout is the hang guard).
TEST(WriteSection, NamesAHundredThousandEqualHeadingsInOnePass) {
  constexpr std::size_t kCount = 100000;
  std::string text;
  for (std::size_t i = 0; i < kCount; ++i) text += "## same\n\nx\n";
  auto written = write_section(text, {"same#50000", "append", "y", std::nullopt});
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->data["heading"], "same#50000");
  EXPECT_EQ(written->data["startLine"], 3 * 49999 + 1);
  auto last = read_section(written->text, "same#" + std::to_string(kCount));
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ((*last)["startLine"], 3 * (kCount - 1) + 1 + 3);  // a blank line, y, a blank line
}

std::string token_of(const std::string& text, const std::string& heading) {
  return read_section(text, heading).value()["baseHash"].get<std::string>();
}

std::vector<std::pair<int, std::vector<std::string>>> rows(char kind) {
  std::vector<std::pair<int, std::vector<std::string>>> out;
  std::ifstream in(HEADLESS_TEST_DATA "/sections.txt");
  std::string row;
  for (int number = 1; std::getline(in, row); ++number) {
    if (!row.starts_with(std::string{kind, ':', ' '})) continue;
    std::vector<std::string> fields;
    for (std::size_t at = 3, bar; at <= row.size(); at = bar + 3) {
      bar = std::min(row.find(" | ", at), row.size());
      fields.push_back(row.substr(at, bar - at));
      if (kind == 'w' || fields.size() < 3) fields.back() = testing::unescape(fields.back(), true);  // a read's answer is JSON
    }
    if (fields[0] == "^") fields[0] = out.back().second[0];
    out.emplace_back(number, std::move(fields));
  }
  return out;
}

// Every anchor of the outline names its own section and nothing else, on
// notes built to collide.
TEST(ParseDocument, EveryAnchorResolvesToItsSection) {
  auto notes = rows('a');
  EXPECT_GT(notes.size(), 5u);
  for (const auto& [number, f] : notes) {
    Document doc = parse_document(f[0]);
    ASSERT_FALSE(doc.sections.empty());
    for (std::size_t s = 0; s < doc.sections.size(); ++s) {
      EXPECT_EQ(resolve(doc, doc.sections[s].anchor), std::vector<std::size_t>{s}) << number << " " << doc.sections[s].anchor;
    }
  }
}

std::optional<std::string> absent(const std::string& s) { return s == "~" ? std::nullopt : std::optional(s); }

// Each edit of data/sections.txt gives the note it makes, or the refusal,
// and a refusal names what it would have changed.
TEST(WriteSection, EditsAsListed) {
  const auto cases = rows('w');
  EXPECT_GT(cases.size(), 30u);
  for (const auto& [number, f] : cases) {
    SCOPED_TRACE("sections.txt:" + std::to_string(number));
    ASSERT_EQ(f.size(), 6u);
    WriteRequest request{absent(f[1]), f[2], f[3], f[4] == "read" ? token_of(f[0], f[1]) : absent(f[4])};
    auto result = write_section(f[0], request);
    const std::string got = result ? "= " + result->text
                                   : "! " + result.error().code +
                                         (result.error().params.contains("line") ? " " + result.error().params.at("line") : "");
    EXPECT_EQ(got, f[5].starts_with("!") ? f[5].substr(0, f[5].find(':')) : f[5]);
    if (!result && result.error().code == "STRUCTURE_CHANGE") {
      EXPECT_EQ(result.error().params.at("detail"),
                "the content would turn line " + result.error().params.at("line") + " of the note, outside the " +
                    (request.heading ? "section" : "place") + " written, " + f[5].substr(f[5].find(':') + 2) +
                    " (a code fence left open, or a --- line closing the note's opening --- as frontmatter, does "
                    "that); nothing was written");
    }
  }
}

// Each read of data/sections.txt answers with what the row lists, and the
// token of the section read (the whole note's is the note's own).
TEST(ReadSection, ReadsAsListed) {
  const auto cases = rows('r');
  EXPECT_GT(cases.size(), 15u);
  for (const auto& [number, f] : cases) {
    SCOPED_TRACE("sections.txt:" + std::to_string(number) + " " + f[1]);
    auto result = read_section(f[0], absent(f[1]));
    json got = result ? *result : json(result.error().params);
    if (!result) got["code"] = result.error().code;
    const json want = json::parse(f[2]);
    for (const auto& [key, value] : want.items()) EXPECT_EQ(got[key], value) << key;
    if (!result) continue;
    EXPECT_EQ(got["baseHash"].get<std::string>().size(), 16u);
    if (f[1] == "~") {
      EXPECT_EQ(got["baseHash"], text_token(f[0]));
    }
  }
}

// A stale token: the conflict carries the section as it is now and a fresh
// token that works; an edit elsewhere is no conflict.
TEST(WriteSection, AConflictCarriesWhatToRetryWith) {
  std::string doc = "# A\nmine\n# B\nb\n";
  std::string token = token_of(doc, "A");
  auto theirs = write_section(doc, {"A", "append", "theirs", token});
  ASSERT_TRUE(theirs.has_value());
  auto stale = write_section(theirs->text, {"A", "replace", "ours", token});
  ASSERT_FALSE(stale.has_value());
  EXPECT_EQ(stale.error().code, "CONFLICT");
  EXPECT_EQ(stale.error().params.at("content"), "mine\n\ntheirs\n\n");
  auto retry = write_section(theirs->text, {"A", "replace", "ours", stale.error().params.at("baseHash")});
  ASSERT_TRUE(retry.has_value());
  EXPECT_EQ(retry->text, "# A\n\nours\n\n# B\nb\n");
  EXPECT_EQ(retry->data["baseHash"], token_of(retry->text, "A"));  // the section's new token
  auto edited_b = write_section(retry->text, {"B", "append", "more", std::nullopt});
  ASSERT_TRUE(edited_b.has_value());
  EXPECT_TRUE(write_section(edited_b->text, {"A", "replace", "new", retry->data["baseHash"]}).has_value());
}

// Odd notes and odd anchors: every read and write answers (a value or a
// refusal), and whatever it answers prints as valid UTF-8 JSON.
TEST(OddInput, EveryReadAndWriteAnswersWithPrintableJson) {
  const std::string docs[] = {
      "", "\n", "\n\n\n", "#", "# ", "# A", "#\n#", "\r\n", "\r", "# A\r", "# A\r\n", "---", "---\n---",
      "---\n# A\n---\n", "---\n# A\n", "```", "```\n# A", "~~~~\n# A\n~~~\n# B", "\\", "# \\",
      std::string("# A\0B\n\0\n", 8), "# \xff\xfe\n\xc3\n## \xc3\n", "# A\n" + std::string(1 << 20, 'x'),
      "# A::\n## ::B\n", "######## A\n", "   # A\n    # B\n", "# A\n# A\n# a\n## A\n", "# #\n# \\#\n# #1\n# #2\n"};
  const std::string anchors[] = {"",       "::",     "A::",  "::A", "#0",    "A#0", "A#99999999999999999999",
                                 "A#4294967296", "A#1",    "\\",   "A\\", "\\#",   "#",   "A#",
                                 ":::",    "\xff",   "\xc3", "A#2", "#1",    "\\\\", std::string("A\0B", 3)};
  for (const auto& doc : docs) {
    SCOPED_TRACE(::testing::PrintToString(doc.substr(0, 40)));
    auto whole = read_section(doc, std::nullopt);
    ASSERT_TRUE(whole.has_value());
    EXPECT_TRUE(is_utf8(compact(*whole)));
    for (const auto& op : {"append", "prepend"}) {
      auto w = write_section(doc, {std::nullopt, op, "x\n\xff", std::nullopt});
      ASSERT_TRUE(w.has_value());
      EXPECT_TRUE(is_utf8(compact(w->data)));
    }
    for (const auto& anchor : anchors) {
      SCOPED_TRACE(::testing::PrintToString(anchor));
      auto r = read_section(doc, anchor);
      if (!r) {
        EXPECT_TRUE(is_utf8(compact(error_body_json(ErrorBody{r.error().code, r.error().params}))));
        continue;
      }
      EXPECT_TRUE(is_utf8(compact(*r)));
      const std::string token = (*r)["baseHash"].get<std::string>();
      for (const auto& op : {"append", "prepend", "replace"}) {
        auto w = write_section(doc, {anchor, op, "# A\n\\\n\xff", token});
        ASSERT_TRUE(w.has_value()) << op << " " << w.error().code;
        EXPECT_TRUE(is_utf8(compact(w->data)));
      }
    }
  }
}

}  // namespace
}  // namespace elmpad::headless
