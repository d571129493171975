#include "mcp/in_flight.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace elmpad::mcp {
namespace {

class InFlightTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  void TearDown() override {
    IN_FLIGHT.clear();
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int fds_[2];
};

TEST_F(InFlightTest, MatchingCancellationWakesTheBlockedRead) {
  IN_FLIGHT.set(json(7));
  register_socket(fds_[0]);
  // Whether the shutdown lands before or during the read, the read ends.
  std::thread canceller([] { EXPECT_TRUE(abort_if_matches(json(7))); });
  char byte;
  ssize_t n = ::read(fds_[0], &byte, 1);
  canceller.join();
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(was_cancelled());
  // The peer sees the connection end too.
  EXPECT_EQ(::read(fds_[1], &byte, 1), 0);
}

TEST_F(InFlightTest, NothingIsCancelledWithoutAMatchingIdAndASocket) {
  EXPECT_FALSE(abort_if_matches(json(7)));  // nothing in flight
  EXPECT_FALSE(was_cancelled());
  IN_FLIGHT.set(json(7));
  EXPECT_FALSE(abort_if_matches(json(7)));  // no socket registered yet
  register_socket(fds_[0]);
  EXPECT_FALSE(abort_if_matches(json("7")));
  EXPECT_FALSE(abort_if_matches(json(7.0)));
  EXPECT_FALSE(was_cancelled());
  // The connection is untouched.
  ASSERT_EQ(::write(fds_[1], "x", 1), 1);
  char byte;
  EXPECT_EQ(::read(fds_[0], &byte, 1), 1);
}

TEST_F(InFlightTest, TheNextCallStartsUncancelled) {
  {
    InFlightScope scope(json("a"));
    register_socket(fds_[0]);
    EXPECT_TRUE(abort_if_matches(json("a")));
    EXPECT_TRUE(was_cancelled());
  }
  EXPECT_FALSE(was_cancelled());  // cleared
  InFlightScope next(json("a"));
  EXPECT_FALSE(was_cancelled());
  EXPECT_FALSE(abort_if_matches(json("a")));  // its socket is not registered
}

// Where a cancelled request gets no reply, a cancellation counts before the
// call connects, and one read while the call was queued (after its line,
// before it ran) is kept for it; one read before its line is not.
TEST_F(InFlightTest, EarlyCancellationsCountWhereTheyAreKept) {
  EXPECT_FALSE(abort_if_matches(json(7), 5));  // kept: 7 is still queued
  EXPECT_FALSE(abort_if_matches(json(8), 2));  // kept, but read before 8's line
  {
    InFlightScope scope(json(7), 4, true);
    EXPECT_TRUE(scope.cancelled_before_start());
    EXPECT_FALSE(register_socket(fds_[0]));  // nothing to send
  }
  {
    InFlightScope scope(json(8), 6, true);
    EXPECT_FALSE(scope.cancelled_before_start());
    EXPECT_TRUE(abort_if_matches(json(8), 7));  // not yet connected
    EXPECT_TRUE(was_cancelled());
  }
  // A kept cancellation is taken once, and the handshake era never takes one.
  EXPECT_FALSE(abort_if_matches(json(9), 10));
  EXPECT_TRUE(InFlightScope(json(9), 9, true).cancelled_before_start());
  EXPECT_FALSE(InFlightScope(json(9), 9, true).cancelled_before_start());
  EXPECT_FALSE(abort_if_matches(json(10), 12));
  EXPECT_FALSE(InFlightScope(json(10), 11, false).cancelled_before_start());
}

TEST_F(InFlightTest, KeptCancellationsAreBounded) {
  for (std::size_t i = 0; i <= InFlightSlot::kMaxKept; ++i) abort_if_matches(json(i), 100 + i);
  EXPECT_FALSE(InFlightScope(json(0), 1, true).cancelled_before_start());  // the oldest went
  EXPECT_TRUE(InFlightScope(json(1), 1, true).cancelled_before_start());
}

TEST_F(InFlightTest, RegisteringWithoutARecordDoesNothing) {
  register_socket(fds_[0]);
  EXPECT_FALSE(abort_if_matches(json(nullptr)));
}

}  // namespace
}  // namespace elmpad::mcp
