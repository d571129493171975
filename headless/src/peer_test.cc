#include "peer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace elmpad::headless {
namespace {

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto made = Peer::make(fds[0]);
    ASSERT_TRUE(made.has_value()) << made.error();
    peer_ = *made;
    client_ = fds[1];
  }
  void TearDown() override { ::close(client_); }

  static bool ready(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }
  // What the client has been sent so far; "<end>" once the app hung up.
  std::string received() {
    std::string out;
    char buf[4096];
    while (ready(client_)) {
      ssize_t n = ::read(client_, buf, sizeof buf);
      if (n <= 0) return out + "<end>";
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

  std::shared_ptr<Peer> peer_;
  int client_ = -1;
};

// Events wait for the connection's thread, in order; one that comes while a
// request is answered follows that answer.
TEST_F(PeerTest, EventsKeepTheirPlaceAroundAnswers) {
  EXPECT_FALSE(ready(peer_->wake_fd()));
  peer_->send_event("e1\n");
  EXPECT_EQ(received(), "");
  EXPECT_TRUE(ready(peer_->wake_fd()));
  peer_->hold_events();
  peer_->send_event("e2\n");
  EXPECT_TRUE(peer_->answer("r1\n"));
  EXPECT_EQ(received(), "e1\nr1\ne2\n");
  EXPECT_FALSE(ready(peer_->wake_fd()));

  peer_->send_event("e3\n");
  peer_->send_event("e4\n");
  EXPECT_TRUE(peer_->flush());
  EXPECT_EQ(received(), "e3\ne4\n");
  EXPECT_FALSE(ready(peer_->wake_fd()));
  EXPECT_TRUE(peer_->answer("r2\n"));
  EXPECT_EQ(received(), "r2\n");
}

// A client that lets its events pile up unread is dropped once they pass the
// limit; up to the limit it is kept, and a dropped client gets nothing more.
TEST_F(PeerTest, AClientThatNeverReadsIsDroppedPastTheLimit) {
  const std::string event(1024, 'e');
  for (int n = 0; n < 16; ++n) peer_->send_event(event);
  EXPECT_TRUE(peer_->flush());
  peer_->hold_events();
  for (int n = 0; n < 16; ++n) peer_->send_event(event);
  EXPECT_TRUE(peer_->answer("r\n"));
  ASSERT_EQ(received().size(), 2 + 32 * event.size());  // what was read counts no more
  for (std::size_t n = 0; n < kMaxQueuedEventBytes / event.size(); ++n) peer_->send_event(event);
  EXPECT_EQ(received(), "");  // at the limit, still queued
  peer_->send_event("x");
  EXPECT_EQ(received(), "<end>");
  EXPECT_FALSE(peer_->flush());
  EXPECT_FALSE(peer_->answer("r\n"));
}

int open_descriptors() {
  int n = 0;
  for (int fd = 0; fd < 1024; ++fd) n += ::fcntl(fd, F_GETFD) != -1;
  return n;
}

// A closed connection keeps no descriptor, though a tab may keep its record
// for long; the numbers soon belong to someone else, and lines meant for the
// old client go nowhere.
TEST_F(PeerTest, NothingReachesADescriptorAfterClose) {
  const int before = open_descriptors();
  peer_->close();
  EXPECT_EQ(open_descriptors(), before - 3);  // the socket and both ends of the wake-up pipe
  int reused[4];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, reused), 0);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, reused + 2), 0);
  peer_->send_event("late\n");
  EXPECT_FALSE(peer_->answer("late\n"));
  EXPECT_FALSE(peer_->flush());
  for (int fd : reused) EXPECT_FALSE(ready(fd)) << fd;
  for (int fd : reused) ::close(fd);
}

}  // namespace
}  // namespace elmpad::headless
