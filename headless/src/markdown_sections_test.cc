#include "markdown_sections.h"

#include <fstream>

#include <gtest/gtest.h>

#include "server_msg.h"
#include "utf8.h"

namespace elmpad::headless {
namespace {

const char* kTricky =
    "---\n"
    "title: # not a heading\n"
    "---\n"
    "# Plan\n"
    "intro\n"
    "## Tasks\n"
    "- a\n"
    "```sh\n"
    "# a comment, not a heading\n"
    "```\n"
    "## Notes\n"
    "### Tasks\n"
    "nested\n"
    "# Log\n"
    "## Notes\n"
    "## notes\n"
    "## Notes\n"
    "## C# \\ a::b ##\n"
    "## Empty\n"
    "#NotAHeading\n"
    "    # indented code\n";

std::vector<std::string> anchors(const Document& doc) {
  std::vector<std::string> out;
  for (const auto& s : doc.sections) out.push_back(s.anchor);
  return out;
}

TEST(ParseDocument, FindsHeadingsOutsideFrontmatterAndFences) {
  Document doc = parse_document(kTricky);
  std::vector<std::string> texts;
  for (const auto& s : doc.sections) texts.push_back(std::to_string(s.level) + " " + s.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"1 Plan", "2 Tasks", "2 Notes", "3 Tasks", "1 Log", "2 Notes",
                                             "2 notes", "2 Notes", "2 C# \\ a::b", "2 Empty"}));
  EXPECT_EQ(doc.body_start, 3u);
  // Plan runs up to Log; Tasks (line 6) up to Notes; Empty to the end.
  EXPECT_EQ(doc.sections[0].begin, 3u);
  EXPECT_EQ(doc.sections[0].end, 13u);
  EXPECT_EQ(doc.sections[1].end, 10u);
  EXPECT_EQ(doc.sections[9].end, doc.lines.size());
  EXPECT_EQ(render(doc.lines), kTricky);
}

TEST(ParseDocument, AnchorsAreShortestUniqueNames) {
  Document doc = parse_document(kTricky);
  EXPECT_EQ(anchors(doc), (std::vector<std::string>{"Plan", "Plan::Tasks", "Plan::Notes", "Notes::Tasks", "Log",
                                                    "Log::Notes#1", "notes", "Log::Notes#2", "C\\# \\\\ a\\::b",
                                                    "Empty"}));
}

// Every anchor of the outline names its own section and nothing else, on
// documents built to collide.
class AnchorRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(AnchorRoundTrip, EveryAnchorResolvesToItsSection) {
  Document doc = parse_document(GetParam());
  ASSERT_FALSE(doc.sections.empty());
  for (std::size_t s = 0; s < doc.sections.size(); ++s) {
    EXPECT_EQ(resolve(doc, doc.sections[s].anchor), std::vector<std::size_t>{s}) << doc.sections[s].anchor;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, AnchorRoundTrip,
    ::testing::Values(std::string(kTricky), "# A\n# A\n# A\n", "# A\n## B\n# A\n## B\n## B\n",
                      "# x::\n# ::y\n# a:\n## :b\n# a\n## :b\n", "# Issue #2\n# Issue\n# Issue\n# Issue #1\n",
                      "# \\\n# \\\\\n# #\n# \n#\n", "# Ünï\n# ünï\n# 会议记录\n## 行动项\n",
                      "# A\n## B\n### A\n#### B\n"));

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

TEST(Resolve, AddressingRules) {
  Document doc = parse_document("# Alpha\n## Beta\n### Gamma\n# alpha beta\n# Dup\n# Dup\n# x#2\n# Solo\n");
  struct Case {
    std::string anchor;
    std::vector<std::size_t> want;
  };
  const Case cases[] = {
      {"Alpha", {0}},
      {"ALPHA", {0}},          // no exact match: case-insensitive
      {"Alph", {}},            // never by prefix
      {"Alpha::Gamma", {}},    // a path names direct parents
      {"Beta::Gamma", {2}},
      {"alpha::beta::gamma", {2}},
      {"Beta::Alpha", {}},     // wrong order
      {"  Alpha :: Beta ", {1}},
      {"Dup", {4, 5}},         // ambiguous
      {"Dup#2", {5}},
      {"Dup#3", {}},           // past the namesakes
      {"x#2", {6}},            // one or no match for "x": #2 is text
      {"Solo#1", {}},          // "Solo" is alone, so "#1" is text, and no such heading
      {"x\\#2", {6}},
  };
  for (const auto& c : cases) EXPECT_EQ(resolve(doc, c.anchor), c.want) << c.anchor;
}

TEST(ReadSection, SectionWithRangeTokenAndBody) {
  auto data = read_section(kTricky, "plan::tasks");
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ((*data)["heading"], "Plan::Tasks");
  EXPECT_EQ((*data)["headingLine"], "## Tasks");
  EXPECT_EQ((*data)["content"], "- a\n```sh\n# a comment, not a heading\n```\n");
  EXPECT_EQ((*data)["startLine"], 6);
  EXPECT_EQ((*data)["endLine"], 10);
  EXPECT_EQ((*data)["baseHash"].get<std::string>().size(), 16u);
}

TEST(ReadSection, OutlineAndWholeContentWithoutHeading) {
  auto data = read_section("# A\ntext\n## B\n", std::nullopt);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(compact((*data)["outline"]),
            R"([{"anchor":"A","endLine":3,"level":1,"startLine":1,"text":"A"},)"
            R"({"anchor":"B","endLine":3,"level":2,"startLine":3,"text":"B"}])");
  EXPECT_EQ((*data)["content"], "# A\ntext\n## B\n");
  EXPECT_EQ((*data)["baseHash"], text_token("# A\ntext\n## B\n"));
}

TEST(ReadSection, RefusalsCarryStringParams) {
  auto missing = read_section("# A\n", "B");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().code, "HEADING_NOT_FOUND");
  EXPECT_EQ(missing.error().params.at("heading"), "B");
  auto ambiguous = read_section("# A\n## X\n# B\n## X\n", "X");
  ASSERT_FALSE(ambiguous.has_value());
  EXPECT_EQ(ambiguous.error().code, "AMBIGUOUS_HEADING");
  EXPECT_EQ(ambiguous.error().params.at("candidates"), "A::X\nB::X");
}

std::string token_of(const std::string& text, const std::string& heading) {
  return read_section(text, heading).value()["baseHash"].get<std::string>();
}

std::string unescape(std::string s) {
  for (const auto& [from, to] : {std::pair{"\\n", "\n"}, std::pair{"\\r", "\r"}}) {
    for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + 1)) s.replace(at, 2, to);
  }
  return s;
}

// The cases of data/sections.txt: each edit gives the note it makes, or the
// refusal, and a refusal names what it would have changed.
TEST(WriteSection, EditsAsListed) {
  std::ifstream in(HEADLESS_TEST_DATA "/sections.txt");
  int cases = 0;
  std::string row;
  for (int number = 1; std::getline(in, row); ++number) {
    if (!row.starts_with("w: ")) continue;
    SCOPED_TRACE("sections.txt:" + std::to_string(number));
    std::vector<std::string> f;
    for (std::size_t at = 3, bar; at <= row.size(); at = bar + 3) {
      bar = std::min(row.find(" | ", at), row.size());
      f.push_back(unescape(row.substr(at, bar - at)));
    }
    ASSERT_EQ(f.size(), 6u);
    auto absent = [](const std::string& s) { return s == "~" ? std::nullopt : std::optional(s); };
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
    ++cases;
  }
  EXPECT_GT(cases, 30);
}

// A carriage return ends a line as a line feed does, so a last line `#\r`
// is a heading before a write adds the line feed after it, not only after.
TEST(WriteSection, ALastLineEndingInACarriageReturnKeepsItsMeaning) {
  auto outline = [](const std::string& text) {
    std::vector<std::string> out;
    for (const auto& s : parse_document(text).sections) out.push_back(std::to_string(s.level) + s.anchor);
    return out;
  };
  EXPECT_EQ(outline("#\n#\r"), (std::vector<std::string>{"1#1", "1#2"}));
  auto below = write_section("# A\nx\n## B\r", {"A", "prepend", "e", std::nullopt});
  ASSERT_TRUE(below.has_value());
  EXPECT_EQ(outline(below->text), (std::vector<std::string>{"1A", "2B"}));
}

TEST(WriteSection, ConflictCarriesCurrentContentAndAFreshTokenThatWorks) {
  std::string doc = "# A\nmine\n# B\nb\n";
  std::string token = token_of(doc, "A");
  // Someone else edits A after our read.
  auto theirs = write_section(doc, {"A", "append", "theirs", token});
  ASSERT_TRUE(theirs.has_value());
  auto stale = write_section(theirs->text, {"A", "replace", "ours", token});
  ASSERT_FALSE(stale.has_value());
  EXPECT_EQ(stale.error().code, "CONFLICT");
  EXPECT_EQ(stale.error().params.at("content"), "mine\n\ntheirs\n\n");
  auto retry = write_section(theirs->text, {"A", "replace", "ours", stale.error().params.at("baseHash")});
  ASSERT_TRUE(retry.has_value());
  EXPECT_EQ(retry->text, "# A\n\nours\n\n# B\nb\n");
  // The token a write returns is the section's new token.
  EXPECT_EQ(retry->data["baseHash"], token_of(retry->text, "A"));
}

TEST(WriteSection, EditsElsewhereDoNotConflict) {
  std::string doc = "# A\na\n# B\nb\n";
  std::string token_a = token_of(doc, "A");
  auto edited_b = write_section(doc, {"B", "append", "more", std::nullopt});
  ASSERT_TRUE(edited_b.has_value());
  EXPECT_TRUE(write_section(edited_b->text, {"A", "replace", "new", token_a}).has_value());
}

}  // namespace
}  // namespace elmpad::headless

namespace elmpad::headless {
namespace {

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
