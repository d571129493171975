#include "line_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support.h"

namespace elmpad {
namespace {

// Interrupts another thread's blocking calls: SIGUSR1 without SA_RESTART,
// so that a blocked read or write returns early, with EINTR or, once some
// bytes moved, a partial count. The handler leaves errno saying EINTR, so a
// call that succeeds after an interrupted one finds it still set: only a
// failed call's errno may count. (Peer's answers and every other writer go
// through write_all; this is where that is shown.)
class Interrupter {
 public:
  Interrupter() {
    struct sigaction action {};
    action.sa_handler = [](int) { errno = EINTR; };
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR1, &action, &old_);
  }
  ~Interrupter() { ::sigaction(SIGUSR1, &old_, nullptr); }
  void poke(std::thread& t, int times = 1) {
    for (int i = 0; i < times; ++i) ::pthread_kill(t.native_handle(), SIGUSR1);
  }

 private:
  struct sigaction old_ {};
};

// A socket pair; with `small` its writing end has a small send buffer, so
// that large writes block part way.
struct Pair {
  explicit Pair(bool small) {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    int size = 4096;
    if (small) ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  }
  int fds[2] = {-1, -1};
};

TEST(WriteAll, GoesOnAfterPartialWritesAndInterruptions) {
  Interrupter interrupter;
  Pair pair(true);
  std::string data(1 << 22, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);  // shows a skip or a repeat
  std::atomic<bool> writing = true;
  SysResult<void> result = sys_fail(0);
  std::thread writer([&] {
    result = write_all(pair.fds[1], data);
    ::shutdown(pair.fds[1], SHUT_WR);
    writing = false;
  });
  std::string got;
  char buf[1024];
  for (ssize_t n = 1; n > 0;) {
    if (writing) interrupter.poke(writer);
    if ((n = ::read(pair.fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
  }
  writer.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
  for (int fd : pair.fds) ::close(fd);
}

// Each line comes in two parts; while the reader waits for the second part,
// in the buffered and in the long-line path, it is interrupted.
TEST(LineReader, GoesOnAfterInterruptions) {
  Interrupter interrupter;
  Pair pair(false);  // the reader may give up: writing must not block then
  LineReader reader{UniqueFd(pair.fds[0])};
  const std::vector<std::string> lines = {"short\n", std::string(20000, 'x') + "\n", "end\n"};
  std::vector<std::string> got;
  std::optional<int> failure;
  std::atomic<bool> reading = true;
  std::thread t([&] {
    while (got.size() < lines.size()) {
      std::string line;
      auto n = reader.read_line(line);
      if (!n || *n == 0) {
        failure = n ? 0 : n.error();
        break;
      }
      got.push_back(line);
    }
    reading = false;
  });
  for (const auto& line : lines) {
    const std::size_t half = line.size() / 2;
    for (const auto& part : {line.substr(0, half), line.substr(half)}) {
      // Once the reader has taken what came, it is back in read().
      testing::eventually([&] {
        int queued = 0;
        return !reading || (::ioctl(pair.fds[0], FIONREAD, &queued) == 0 && queued == 0);
      });
      if (reading) interrupter.poke(t, 50);
      ASSERT_TRUE(write_all(pair.fds[1], part));
    }
  }
  t.join();
  EXPECT_EQ(failure, std::nullopt);
  EXPECT_EQ(got, lines);
  ::close(pair.fds[1]);
}

// Lines of every length around the buffer's, written in one go and read
// back exactly: what follows a line feed, however much was read with it,
// belongs to the next line.
TEST(LineReader, LinesOfAnyLengthComeBackExactly) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  LineReader reader{UniqueFd(fds[0])};
  std::vector<std::string> lines;
  for (std::size_t size : {0, 1, 8191, 8192, 8193, 70000, 3, 1 << 20, 9000, 2}) {
    std::string line;
    for (std::size_t i = 0; i < size; ++i) line += static_cast<char>('a' + i % 26);
    lines.push_back(line + "\n");
  }
  lines.push_back("last line without a line feed");
  std::string all;
  for (const auto& l : lines) all += l;
  std::thread writer([&] {
    EXPECT_TRUE(write_all(fds[1], all));
    ::close(fds[1]);
  });
  for (const auto& want : lines) {
    std::string got;
    auto n = reader.read_line(got);
    ASSERT_TRUE(n);
    EXPECT_EQ(*n, want.size());
    EXPECT_EQ(got, want);
  }
  std::string end;
  EXPECT_EQ(reader.read_line(end), 0u);
  EXPECT_EQ(end, "");
  writer.join();
}

TEST(LineReader, AFailedReadIsItsErrno) {
  LineReader reader{UniqueFd(::open("/dev/null", O_WRONLY))};
  std::string line;
  auto n = reader.read_line(line);
  ASSERT_FALSE(n);
  EXPECT_EQ(n.error(), EBADF);
}

// A reader bounded by a deadline and a limit, as an exchange that must not
// hang on a slow or endless peer reads. The peer stays open and silent
// unless it hangs up: only the limit and the deadline end those reads.
class BoundedRead : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ASSERT_TRUE(set_nonblocking(fds[0]));
    reader_ = LineReader(UniqueFd(fds[0]));
    peer_ = UniqueFd(fds[1]);
  }
  void peer_writes(const std::string& bytes) { ASSERT_TRUE(write_all(peer_.get(), bytes)); }
  SysResult<std::string> read(std::chrono::seconds within = std::chrono::hours(1), std::size_t limit = 100) {
    reader_.set_deadline(std::chrono::steady_clock::now() + within);
    std::string line;
    auto n = reader_.read_line(line, limit);
    if (!n) return sys_fail(n.error());
    return line;
  }
  // A failure's errno, 0 for a line. (Compared with ==, a class derived
  // from std::expected can meet the value overload in newer libc++.)
  static int error_of(const SysResult<std::string>& result) { return result ? 0 : result.error(); }
  LineReader reader_;
  UniqueFd peer_;
};

// A short line is measured in the buffer, a long one as it is read into
// the line; the peer stays open, so only the limit ends the second read.
TEST_F(BoundedRead, ALineMayReachTheLimitButNotOutgrowIt) {
  for (std::size_t limit : {std::size_t{100}, 2 * kReaderBufferSize}) {
    const std::string full(limit, ' ');
    peer_writes(full);
    peer_.reset();
    EXPECT_EQ(read(std::chrono::hours(1), limit), full);
    SetUp();
    peer_writes(full + ' ');
    EXPECT_EQ(error_of(read(std::chrono::hours(1), limit)), EMSGSIZE);
    SetUp();
  }
}

TEST_F(BoundedRead, NothingOnceTheDeadlineHasPassed) {
  peer_writes("{\"ok\":");
  EXPECT_EQ(error_of(read(std::chrono::seconds(0))), ETIMEDOUT);
}

}  // namespace
}  // namespace elmpad
