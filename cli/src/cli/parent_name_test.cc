#include "cli/parent_name.h"

#include <gtest/gtest.h>

#include <optional>

namespace elmpad {
namespace {

TEST(LabelFromPsOutput, LastComponentOfTheTrimmedText) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"/usr/bin/git\n", "git"},
      {"git\n", "git"},
      {"  \t/usr/local/bin/nvim  \r\n", "nvim"},
      {"-zsh\n", "-zsh"},
      {"/opt/my tools/ed it\n", "ed it"},  // inner spaces belong to the name
      {"bin/git/\n", "git"},
      {"a/.\n", "a"},
      {"/\n", "/"},            // no last component: the whole text
      {"/usr/..\n", "/usr/.."},
      {"..\n", ".."},
      {".\n", "."},
      {"caf\xe9\n", "caf\uFFFD"},
      {"", std::nullopt},
      {" \n\t\n", std::nullopt},
  };
  for (const auto& [output, label] : cases) {
    EXPECT_EQ(label_from_ps_output(output), label) << output;
  }
}

}  // namespace
}  // namespace elmpad
