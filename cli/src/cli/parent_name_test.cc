#include "cli/parent_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <unistd.h>

#include "support.h"
#include "temp_home.h"

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

class ParentName : public ::testing::Test {
 protected:
  void SetUp() override { env_.set("HOME", home_.path()); }
  testing::TempHome home_;
  testing::EnvGuard env_;
};

TEST_F(ParentName, AsksPsAboutTheParentProcess) {
  env_.set("PATH", std::string(FAKE_BIN_DIR) + ":/usr/bin:/bin");
  env_.set("FAKE_PS_OUTPUT", "/usr/bin/git");
  EXPECT_EQ(parent_name(), "git");  // the noise ps writes on stderr is dropped
  EXPECT_EQ(home_.read_file("ps.log"), "-o comm= -p " + std::to_string(::getppid()) + "\n");
  env_.set("FAKE_PS_OUTPUT", "");
  EXPECT_EQ(parent_name(), std::nullopt);
}

TEST_F(ParentName, NoLabelWhenPsCannotStart) {
  env_.set("PATH", home_.make_dir("empty"));
  EXPECT_EQ(parent_name(), std::nullopt);
}

}  // namespace
}  // namespace elmpad
