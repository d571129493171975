#include "cli/parent_name.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <unistd.h>

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
  void SetUp() override {
    for (const char* name : {"PATH", "HOME", "FAKE_PS_OUTPUT"}) {
      const char* v = std::getenv(name);
      saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    ::setenv("HOME", home_.path().c_str(), 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }
  testing::TempHome home_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(ParentName, AsksPsAboutTheParentProcess) {
  ::setenv("PATH", (std::string(FAKE_BIN_DIR) + ":/usr/bin:/bin").c_str(), 1);
  ::setenv("FAKE_PS_OUTPUT", "/usr/bin/git", 1);
  EXPECT_EQ(parent_name(), "git");  // the noise ps writes on stderr is dropped
  EXPECT_EQ(home_.read_file("ps.log"), "-o comm= -p " + std::to_string(::getppid()) + "\n");
  ::setenv("FAKE_PS_OUTPUT", "", 1);
  EXPECT_EQ(parent_name(), std::nullopt);
}

TEST_F(ParentName, NoLabelWhenPsCannotStart) {
  ::setenv("PATH", home_.make_dir("empty").c_str(), 1);
  EXPECT_EQ(parent_name(), std::nullopt);
}

TEST_F(ParentName, RealPsNamesTheParent) {
  ::setenv("PATH", "/usr/bin:/bin", 1);
  if (::access("/usr/bin/ps", X_OK) != 0 && ::access("/bin/ps", X_OK) != 0) GTEST_SKIP() << "no ps";
  auto name = parent_name();
  ASSERT_TRUE(name);
  EXPECT_FALSE(name->empty());
  EXPECT_EQ(name->find('/'), std::string::npos);
}

}  // namespace
}  // namespace elmpad
