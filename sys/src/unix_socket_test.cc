#include "unix_socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace elmpad {
namespace {

TEST(ConnectSocket, RefusesPathsTooLongInsteadOfTruncating) {
  auto fd = connect_socket("/tmp/" + std::string(200, 'x'));
  ASSERT_FALSE(fd);
  EXPECT_EQ(fd.error(), ENAMETOOLONG);
}

}  // namespace
}  // namespace elmpad
