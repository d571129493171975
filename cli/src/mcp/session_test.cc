#include "mcp/session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace elmpad::mcp {
namespace {

class ReadLineBefore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
    ASSERT_EQ(::fcntl(fds_[0], F_SETFL, ::fcntl(fds_[0], F_GETFL) | O_NONBLOCK), 0);
  }
  void TearDown() override {
    ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  void peer_writes(const std::string& bytes) { ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  std::optional<std::string> read(std::chrono::seconds within = std::chrono::hours(1), std::size_t limit = 100) {
    return read_line_before(fds_[0], std::chrono::steady_clock::now() + within, limit);
  }
  int fds_[2];
};

TEST_F(ReadLineBefore, OneLineAndNothingPastIt) {
  peer_writes("{\"ok\":true}\n{\"later\":1}\n");
  EXPECT_EQ(read(), "{\"ok\":true}\n");
  peer_writes("tail");
  ::close(fds_[1]);
  fds_[1] = -1;
  EXPECT_EQ(read(), "tail");  // what came with the first line was dropped
}

TEST_F(ReadLineBefore, ALastLineWithoutLineFeedCounts) {
  peer_writes("{\"ok\":true}");
  ::close(fds_[1]);
  fds_[1] = -1;
  EXPECT_EQ(read(), "{\"ok\":true}");
}

// The peer stays open and silent in both cases: only the limit and the
// deadline end the read.
TEST_F(ReadLineBefore, ALineThatOutgrowsTheLimitIsNoAnswer) {
  peer_writes(std::string(101, ' '));
  EXPECT_EQ(read(), std::nullopt);
}

TEST_F(ReadLineBefore, NothingOnceTheDeadlineHasPassed) {
  peer_writes("{\"ok\":");
  EXPECT_EQ(read(std::chrono::seconds(0)), std::nullopt);
}

}  // namespace
}  // namespace elmpad::mcp
