#include "socket_path.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

TEST(SocketPath, UnderHome) {
  const std::string want = "/Users/a/Library/Application Support/com.tarn.elmwrite/elmpad.sock";
  EXPECT_EQ(socket_path("/Users/a"), want);
  EXPECT_EQ(socket_path("/Users/a/"), want);
  EXPECT_EQ(socket_path(""), "Library/Application Support/com.tarn.elmwrite/elmpad.sock");
  EXPECT_EQ(socket_path_under("/x", "id"), "/x/id/elmpad.sock");
}

TEST(JoinPath, KeepsWhatWasTyped) {
  EXPECT_EQ(join_path("/w", "./a.md"), "/w/./a.md");
  EXPECT_EQ(join_path("/w", "notes/../a.md"), "/w/notes/../a.md");
  EXPECT_EQ(join_path("/w", ""), "/w/");
  EXPECT_EQ(join_path("/", "a"), "/a");
  EXPECT_EQ(join_path("/w", "/abs"), "/abs");
}

}  // namespace
}  // namespace elmpad
