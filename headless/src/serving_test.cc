// The pieces that serve one connection: its line splitting, its writing
// side (Peer) and its blocking wait for a change.
#include <atomic>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "change_wait.h"
#include "line_buffer.h"
#include "peer.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad::headless {
namespace {

using elmpad::testing::eventually;

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

// A line sent a byte at a time: searching the whole pending line after
// every byte would take hours here; each byte is looked at once instead.
TEST(LineBuffer, ALongLineTrickledInBytesArrivesWhole) {
  constexpr std::size_t kLength = 4u << 20;
  LineBuffer lines;
  for (std::size_t i = 0; i < kLength; ++i) {
    lines.append(std::string_view("x", 1));
    ASSERT_EQ(lines.next(), std::nullopt);
  }
  lines.append("\n");
  EXPECT_EQ(lines.next().value_or("").size(), kLength);
  EXPECT_EQ(lines.pending(), 0u);
}

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto made = Peer::make(UniqueFd(fds[0]));
    ASSERT_TRUE(made.has_value()) << made.error().message;
    peer_ = *made;
    client_ = fds[1];
  }
  void TearDown() override { ::close(client_); }
  // What the client has been sent so far; "<end>" once the app hung up.
  std::string received() {
    std::string out;
    char buf[4096];
    while (readable(client_)) {
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
// request is answered (a tab closed at once) follows that answer.
TEST_F(PeerTest, EventsKeepTheirPlaceAroundAnswers) {
  EXPECT_FALSE(readable(peer_->wake_fd()));
  peer_->send_event("e1\n");
  EXPECT_EQ(received(), "");
  EXPECT_TRUE(readable(peer_->wake_fd()));
  peer_->hold_events();
  peer_->send_event("e2\n");
  EXPECT_TRUE(peer_->answer("r1\n"));
  EXPECT_EQ(received(), "e1\nr1\ne2\n");
  EXPECT_FALSE(readable(peer_->wake_fd()));
  peer_->send_event("e3\n");
  peer_->send_event("e4\n");
  EXPECT_TRUE(peer_->flush());
  EXPECT_EQ(received(), "e3\ne4\n");
  EXPECT_FALSE(readable(peer_->wake_fd()));
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

// A closed connection keeps no descriptor, though a tab may keep its record
// for long; the numbers soon belong to someone else, and lines meant for the
// old client go nowhere.
TEST_F(PeerTest, NothingReachesADescriptorAfterClose) {
  const int before = testing::open_descriptors();
  peer_->close();
  EXPECT_EQ(testing::open_descriptors(), before - 3);  // the socket and both ends of the wake-up pipe
  int reused[4];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, reused), 0);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, reused + 2), 0);
  peer_->send_event("late\n");
  EXPECT_FALSE(peer_->answer("late\n"));
  EXPECT_FALSE(peer_->flush());
  for (int fd : reused) EXPECT_FALSE(readable(fd)) << fd;
  for (int fd : reused) ::close(fd);
}

// wait_for_change on a note and the workspace "w", for a client on a socket
// pair. It polls once an hour here, so only what it waits for wakes it.
class ChangeWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, client_), 0);
    write("# A\n");
    sidebar_.say("elsewhere", {"", nullptr});
    ASSERT_TRUE(readable(sidebar_.wakeup_fd()));  // a message for any workspace wakes every wait
  }
  void TearDown() override {
    if (waiter_.joinable()) {
      sidebar_.say("w", {"end", nullptr});
      finish();
    }
    for (int fd : client_) ::close(fd);
  }
  void write(const std::string& text) { home_.write_file("a.md", text); }
  void start(std::chrono::milliseconds settle) {
    ChangeWait wait{dir_ + "/a.md", "w", std::chrono::hours(1), true};
    waiter_ = std::thread([this, wait, settle] {
      report_ = wait_for_change(wait, sidebar_, client_[0], {std::chrono::hours(1), settle});
      done_ = true;
    });
  }
  // Wakes the wait with a message for another workspace and sees it take the
  // wake-up: it looks at everything once more before it sleeps again.
  void look(int times = 1) {
    for (int i = 0; i < times; ++i) {
      sidebar_.say("elsewhere", {"", nullptr});
      ASSERT_TRUE(eventually([&] { return done_ || !readable(sidebar_.wakeup_fd()); }));
    }
  }
  std::string finish() {
    waiter_.join();
    return report_ ? compact(*report_) : "<client gone>";
  }

  int client_[2] = {-1, -1};
  testing::TempHome home_;
  const std::string dir_ = home_.path();
  Sidebar sidebar_{WakePipe::make().value()};
  std::thread waiter_;
  std::optional<json> report_;
  std::atomic<bool> done_{false};
};

// The same bytes written back are no change, whether or not the wait saw
// the bytes in between; a note removed is.
TEST_F(ChangeWaitTest, OnlyTheContentCounts) {
  start(std::chrono::milliseconds(0));
  look();
  write("# A\n");
  look(2);
  write("# A\nB\n");
  look();
  write("# A\n");
  look(2);
  EXPECT_FALSE(done_);
  std::filesystem::remove(dir_ + "/a.md");
  look(3);  // two looks at the note as it is now
  ASSERT_TRUE(done_);
  EXPECT_EQ(finish(), R"({"changed":true,"exists":false,"source":"file"})");
}

// A change that has not held still for the settle time is not reported yet.
TEST_F(ChangeWaitTest, AChangeCountsOnceItHoldsStill) {
  start(std::chrono::hours(1));
  look();
  write("# A\nB\n");
  look(3);
  sidebar_.say("w", {"hi", nullptr});
  EXPECT_EQ(finish(), R"({"messages":[{"context":null,"text":"hi"}],"source":"message"})");
}

TEST_F(ChangeWaitTest, TheClientHangingUpEndsTheWait) {
  start(std::chrono::milliseconds(0));
  look();
  ::shutdown(client_[1], SHUT_WR);
  ASSERT_TRUE(eventually([&] { return done_.load(); }));
  EXPECT_EQ(finish(), "<client gone>");
}

TEST(WorkspaceKey, AMissingFolderLosesItsTrailingSlashes) {
  EXPECT_EQ(workspace_key("no-such-folder//"), "no-such-folder");
  EXPECT_EQ(workspace_key("n/"), "n");
  EXPECT_EQ(workspace_key("/"), "/");
}

}  // namespace
}  // namespace elmpad::headless
