#include "markdown_sections.h"

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

struct WriteCase {
  std::string name;
  std::string before;
  std::optional<std::string> heading;
  std::string operation;
  std::string content;
  std::string after;
};

// Test listings name a case by its name, not by its bytes.
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WriteSectionCase : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteSectionCase, ProducesTheDocument) {
  const WriteCase& c = GetParam();
  WriteRequest request{c.heading, c.operation, c.content, std::nullopt};
  if (c.operation == "replace") request.base_hash = token_of(c.before, *c.heading);
  auto result = write_section(c.before, request);
  ASSERT_TRUE(result.has_value()) << result.error().code;
  EXPECT_EQ(result->text, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, WriteSectionCase,
    ::testing::Values(
        WriteCase{"AppendAfterChildren", "# A\na\n## B\nb\n# C\nc\n", "A", "append", "new", "# A\na\n## B\nb\n\nnew\n\n# C\nc\n"},
        WriteCase{"AppendBeforeTrailingBlanks", "# A\na\n\n\n# C\n", "A", "append", "new\n", "# A\na\n\nnew\n\n\n# C\n"},
        WriteCase{"PrependUnderHeading", "# A\n\na\n", "A", "prepend", "new", "# A\n\nnew\n\na\n"},
        WriteCase{"EmptySection", "# A\n# B\n", "A", "append", "x", "# A\n\nx\n\n# B\n"},
        WriteCase{"AppendToABlankBody", "# A\n\n\n# B\n", "A", "append", "x", "# A\n\nx\n\n\n# B\n"},
        WriteCase{"ReplaceKeepsHeadingLine", "# A\nold\n## Child\nold\n# B\n", "A", "replace", "new\n",
                  "# A\n\nnew\n\n# B\n"},
        WriteCase{"ReplaceDropsARepeatedHeading", "# A\nold\n", "A", "replace", "# A\nnew", "# A\n\nnew\n"},
        WriteCase{"ReplaceWithNothing", "# A\nold\n# B\n", "A", "replace", "", "# A\n\n# B\n"},
        WriteCase{"LastLineWithoutNewline", "# A\ntext", "A", "append", "x", "# A\ntext\n\nx\n"},
        WriteCase{"DocumentAppend", "# A\ntext\n\n", std::nullopt, "append", "x", "# A\ntext\n\nx\n\n"},
        WriteCase{"DocumentPrependAfterFrontmatter", "---\nt: 1\n---\n# A\n", std::nullopt, "prepend", "x",
                  "---\nt: 1\n---\n\nx\n\n# A\n"},
        WriteCase{"DocumentPrependWithoutFrontmatter", "# A\n", std::nullopt, "prepend", "x", "x\n\n# A\n"},
        WriteCase{"EmptyDocument", "", std::nullopt, "append", "x", "x\n"},
        WriteCase{"CrlfStaysCrlf", "# A\r\na\r\n# B\r\n", "A", "append", "x\ny\n", "# A\r\na\r\n\r\nx\r\ny\r\n\r\n# B\r\n"},
        WriteCase{"FenceHashIsNotATarget", "# A\n```\n# B\n```\n", "A", "append", "x", "# A\n```\n# B\n```\n\nx\n"}),
    [](const auto& info) { return info.param.name; });

TEST(WriteSection, RefusesWithoutTouchingTheText) {
  const std::string doc = "# A\na\n# A\n";
  struct Case {
    WriteRequest request;
    std::string code;
  };
  const Case cases[] = {
      {{"A#1", "rewrite", "x", std::nullopt}, "INVALID_OPERATION"},
      {{std::nullopt, "replace", "x", "t"}, "INVALID_OPERATION"},
      {{"A#1", "replace", "x", std::nullopt}, "BASE_HASH_REQUIRED"},
      {{"A", "append", "x", std::nullopt}, "AMBIGUOUS_HEADING"},
      {{"Z", "append", "x", std::nullopt}, "HEADING_NOT_FOUND"},
      {{"A#1", "replace", "x", "0000000000000000"}, "CONFLICT"},
      {{std::nullopt, "append", "x", "stale"}, "CONFLICT"},
  };
  for (const auto& c : cases) {
    auto r = write_section(doc, c.request);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code, c.code);
  }
}

// A write never silently changes the meaning of the note outside it: content
// that would is refused, naming the first line it would change.
TEST(WriteSection, RefusesContentThatChangesTheNoteOutsideTheWrite) {
  // The opening --- closes nothing, so it is no frontmatter: a --- line in the
  // content would close it and make frontmatter of everything above.
  const std::string note = "---\nintro\n## Tasks\n\n- one\n\n## Done\n\nold\n";
  struct Case {
    WriteRequest request;
    std::string line;  // the first line changed; empty when the write is safe
    std::string change;
  };
  const Case cases[] = {
      {{"Tasks", "append", "- two\n\n---\n", std::nullopt}, "1", "from text into frontmatter"},
      {{"Tasks", "append", "```\ncode", std::nullopt}, "7", "from a level-2 heading into code"},
      {{std::nullopt, "prepend", "~~~", std::nullopt}, "1", "from text into code"},
      {{std::nullopt, "append", "x\n---", std::nullopt}, "1", "from text into frontmatter"},
      {{"Tasks", "append", "- two\n\n***\n\n```\ncode\n```", std::nullopt}, "", ""},
      {{"Tasks", "append", "### Sub\n\n## Next", std::nullopt}, "", ""},  // headings it adds are its own
      {{"Done", "append", "```\ncode", std::nullopt}, "", ""},  // nothing follows it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request.content);
    auto r = write_section(note, c.request);
    if (c.line.empty()) {
      EXPECT_TRUE(r.has_value());
      continue;
    }
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code, "STRUCTURE_CHANGE");
    EXPECT_EQ(r.error().params.at("line"), c.line);
    EXPECT_EQ(r.error().params.at("detail"),
              "the content would turn line " + c.line + " of the note, outside the " +
                  (c.request.heading ? "section" : "place") + " written, " + c.change +
                  " (a code fence left open, or a --- line closing the note's opening --- as frontmatter, does "
                  "that); nothing was written");
  }
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
  auto written = write_section("#\n#\r", {"#1", "append", "e", std::nullopt});
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->text, "#\n\ne\n\n#\r");
  EXPECT_EQ(outline(written->text), outline("#\n#\r"));
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
