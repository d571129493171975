#include "user_console.h"

#include <gtest/gtest.h>

namespace elmpad::headless {
namespace {

TEST(ParseUserCommand, Commands) {
  auto close = parse_user_command("close \"/a b/c.md\"\r");
  ASSERT_TRUE(close.has_value());
  EXPECT_EQ(std::get<user::Close>(*close).path, "/a b/c.md");
  EXPECT_EQ(std::get<user::Close>(*close).outcome, Outcome::kDone);
  auto active = parse_user_command("  discard");
  ASSERT_TRUE(active.has_value());
  EXPECT_FALSE(std::get<user::Close>(*active).path.has_value());
  EXPECT_EQ(std::get<user::Close>(*active).outcome, Outcome::kDiscarded);
  auto say = parse_user_command("say /w  fix  the intro ");
  ASSERT_TRUE(say.has_value());
  EXPECT_EQ(std::get<user::Say>(*say).workspace, "/w");
  EXPECT_EQ(std::get<user::Say>(*say).text, "fix  the intro");
  EXPECT_TRUE(std::holds_alternative<user::Tabs>(parse_user_command("tabs").value()));
  EXPECT_TRUE(std::holds_alternative<user::Help>(parse_user_command("help").value()));
  EXPECT_TRUE(std::holds_alternative<user::Nothing>(parse_user_command("   ").value()));
}

TEST(ParseUserCommand, MistakesAreExplained) {
  const std::pair<std::string, std::string> cases[] = {
      {"fly", "unknown command 'fly' (type help)"},
      {"tabs now", "unknown command 'tabs now' (type help)"},
      {"say /w", "usage: say <workspace> <text>"},
      {"close \"/a", "missing closing quote"},
      {"close /a /b", "close takes one path (quote a path with spaces)"},
  };
  for (const auto& [line, message] : cases) {
    auto r = parse_user_command(line);
    ASSERT_FALSE(r.has_value()) << line;
    EXPECT_EQ(r.error(), message);
  }
}

}  // namespace
}  // namespace elmpad::headless
