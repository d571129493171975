#include "cli/cli_command.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

std::string usage_error(const std::vector<std::string>& args) {
  auto parsed = parse(args);
  auto* e = std::get_if<cli::UsageError>(&parsed);
  return e ? e->message : "<no usage error>";
}

TEST(Parse, UsageErrors) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "missing file argument"},
      {{"open"}, "missing file argument"},
      {{"--wait"}, "missing file argument"},
      {{"--", "a.md"}, "unknown option '--'"},
      {{"-", "a.md"}, "unknown option '-'"},
      {{"-x", "a.md", "--bogus"}, "unknown option '-x'"},
      {{"status", "--wait"}, "unexpected argument '--wait' for status"},
      {{"mcp", "--json", "x"}, "unexpected argument '--json' for mcp"},
      {{"reveal", "a.md", "b", "c"}, "reveal takes a file and an optional heading"},
      {{"reveal", "--json"}, "missing file argument"},
      {{"reveal", "a.md", "-n"}, "unknown option '-n' for reveal"},
      {{"a.md", "--wait", "b.md"}, "--wait takes exactly one file"},
      {{"a.md", "--source"}, "--source requires a value"},
  };
  for (const auto& [args, want] : cases) EXPECT_EQ(usage_error(args), want) << ::testing::PrintToString(args);
}

// Help after a file and version after an option are in the transcripts.
TEST(Parse, HelpAndVersionWinAnywhere) {
  EXPECT_TRUE(std::holds_alternative<cli::Help>(parse({"--version", "--help"})));
  EXPECT_TRUE(std::holds_alternative<cli::Help>(parse({"mcp", "-h"})));
}

TEST(Parse, Commands) {
  EXPECT_TRUE(std::holds_alternative<cli::Mcp>(parse({"mcp"})));
  auto status = parse({"status", "--json", "--json"});
  ASSERT_TRUE(std::holds_alternative<cli::Status>(status));
  EXPECT_TRUE(std::get<cli::Status>(status).json);

  // A subcommand word counts only in first place.
  auto file_named_status = parse({"--json", "status"});
  ASSERT_TRUE(std::holds_alternative<cli::Open>(file_named_status));
  EXPECT_EQ(std::get<cli::Open>(file_named_status).files, std::vector<std::string>{"status"});

  auto open = std::get<cli::Open>(parse({"--source", "--wait", "a.md", "", "--json", "--source", "vim"}));
  EXPECT_EQ(open.files, (std::vector<std::string>{"a.md", ""}));
  EXPECT_FALSE(open.wait);
  EXPECT_TRUE(open.json);
  EXPECT_EQ(open.source, "vim");

  auto explicit_open = std::get<cli::Open>(parse({"open", "--wait", "mcp"}));
  EXPECT_EQ(explicit_open.files, std::vector<std::string>{"mcp"});
  EXPECT_TRUE(explicit_open.wait);

  auto reveal = std::get<cli::Reveal>(parse({"reveal", "a.md", "--json", ""}));
  EXPECT_EQ(reveal.file, "a.md");
  EXPECT_EQ(reveal.heading, "");
  EXPECT_TRUE(reveal.json);
  EXPECT_FALSE(std::get<cli::Reveal>(parse({"reveal", "a.md"})).heading);
}

}  // namespace
}  // namespace elmpad
