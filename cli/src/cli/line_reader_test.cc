#include "cli/line_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace elmpad {
namespace {

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
    EXPECT_EQ(write_all(fds[1], all), 0);
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

TEST(SpareLine, KeepsTheLargestStorageEmptiedAndNothingHuge) {
  (void)spare_line();  // whatever an earlier test left
  EXPECT_EQ(spare_line().capacity(), std::string().capacity());

  std::string big(1 << 20, 'x');
  std::string small(kReaderBufferSize * 2, 'y');
  const char* big_storage = big.data();
  give_back_line(std::move(big));
  give_back_line(std::move(small));  // smaller: not kept in its place
  std::string reused = spare_line();
  EXPECT_EQ(reused.data(), big_storage);
  EXPECT_EQ(reused, "");
  EXPECT_EQ(spare_line().capacity(), std::string().capacity());  // taken once

  std::string huge;
  huge.reserve(kMaxSpareLine + 1);
  give_back_line(std::move(huge));
  EXPECT_EQ(spare_line().capacity(), std::string().capacity());
}

}  // namespace
}  // namespace elmpad
