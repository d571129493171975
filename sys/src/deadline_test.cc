#include "deadline.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/socket.h>

#include "unique_fd.h"

namespace elmpad {
namespace {

// A peer that never reads: once the socket's buffer is full, the write
// waits, and gives up at the deadline rather than spinning or hanging. The
// deadline is a little ahead, so the wait itself runs out, not only the
// check before it.
TEST(WriteAllBefore, GivesUpAtTheDeadlineWhenThePeerDoesNotRead) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  UniqueFd ours(fds[0]), peer(fds[1]);
  ASSERT_TRUE(set_nonblocking(ours.get()));
  const std::string chunk(64 * 1024, 'x');
  SysResult<void> written;
  for (int i = 0; i < 1024 && written; ++i) {
    written = write_all_before(ours.get(), chunk, std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
  }
  EXPECT_EQ(written, sys_fail(ETIMEDOUT));
}

}  // namespace
}  // namespace elmpad
