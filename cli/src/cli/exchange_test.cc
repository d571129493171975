#include "cli/exchange.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace elmpad {
namespace {

// One end is the tool's connection, the other plays the application.
class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto conn = make_connection(UniqueFd(fds[0]));
    ASSERT_TRUE(conn);
    conn_ = std::move(*conn);
    app_ = UniqueFd(fds[1]);
  }
  void app_says(const std::string& bytes) { ASSERT_EQ(write_all(app_.get(), bytes), 0); }
  void app_hangs_up() { app_.reset(); }
  std::string app_reads() {
    char buf[4096];
    ssize_t n = ::read(app_.get(), buf, sizeof buf);
    return n > 0 ? std::string(buf, n) : "";
  }

  Connection conn_;
  UniqueFd app_;
};

TEST_F(ExchangeTest, SendWritesOneLine) {
  ASSERT_TRUE(send(conn_.socket.get(), Request{.cmd = cmd::Status{}}));
  EXPECT_EQ(app_reads(), "{\"id\":1,\"proto\":1,\"cmd\":\"status\"}\n");
}

TEST_F(ExchangeTest, SendToAClosedPeerIsASocketError) {
  app_hangs_up();
  auto sent = send(conn_.socket.get(), Request{.cmd = cmd::Status{}});
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.error().code, "SOCKET_ERROR");
  EXPECT_EQ(sent.error().message, "Broken pipe (os error 32)");
}

TEST_F(ExchangeTest, ReadResponseSkipsEventsAndOtherIds) {
  app_says("{\"id\":1,\"event\":\"x\"}\n{\"id\":2,\"ok\":false}\n{\"id\":1,\"ok\":true,\"data\":{\"a\":1}}\n");
  auto answer = read_response(conn_.reader, 1);
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->ok);
  EXPECT_EQ(compact(*answer->payload), R"({"a":1})");
}

TEST_F(ExchangeTest, RefusalsBecomeCodeAndParams) {
  app_says("{\"id\":1,\"ok\":false,\"data\":5,\"error\":{\"code\":\"HEADING_NOT_FOUND\"}}\n{\"id\":2,\"ok\":false}\n"
           "{\"id\":3,\"ok\":true,\"error\":{\"code\":\"IGNORED\"}}\n");
  auto with_body = read_response(conn_.reader, 1);
  ASSERT_TRUE(with_body);
  EXPECT_FALSE(with_body->ok);
  EXPECT_EQ(compact(*with_body->payload), R"({"code":"HEADING_NOT_FOUND","params":{}})");
  auto without_body = read_response(conn_.reader, 2);
  ASSERT_TRUE(without_body);
  EXPECT_FALSE(without_body->ok);
  EXPECT_FALSE(without_body->payload);
  auto ok_with_error = read_response(conn_.reader, 3);
  ASSERT_TRUE(ok_with_error);
  EXPECT_TRUE(ok_with_error->ok);
  EXPECT_FALSE(ok_with_error->payload);
}

TEST_F(ExchangeTest, Failures) {
  struct Case {
    std::string bytes;
    std::string code;
    std::string message;  // empty: only the code is checked
  };
  const Case cases[] = {
      {"", "CHANNEL_CLOSED", "connection closed by app"},
      {"\xff\xfe{}\n", "SOCKET_ERROR", "stream did not contain valid UTF-8"},
      {"\n", "PROTO_ERROR", ""},
      {"{\"id\":1,\"ok\":true} x\n", "PROTO_ERROR", ""},
      {"{\"id\":1}\n", "PROTO_ERROR", "data did not match any variant of untagged enum ServerMsg"},
      // A bad line fails the read even though it was not the awaited answer.
      {"{\"id\":2,\"event\":\"e\",\"outcome\":\"nope\"}\n{\"id\":1,\"ok\":true}\n", "PROTO_ERROR", ""},
  };
  for (const auto& c : cases) {
    SetUp();
    app_says(c.bytes);
    app_hangs_up();
    auto answer = read_response(conn_.reader, 1);
    ASSERT_FALSE(answer) << c.bytes;
    EXPECT_EQ(answer.error().code, c.code) << c.bytes;
    if (!c.message.empty()) {
      EXPECT_EQ(answer.error().message, c.message);
    }
  }
}

TEST_F(ExchangeTest, LastLineWithoutLineFeedStillCounts) {
  app_says("{\"id\":1,\"ok\":true}");
  app_hangs_up();
  EXPECT_TRUE(read_response(conn_.reader, 1));
}

TEST_F(ExchangeTest, LongLinesAreAssembledAcrossReads) {
  std::string big(100'000, 'x');
  app_says("{\"id\":1,\"ok\":true,\"data\":\"" + big + "\"}\n{\"id\":2,\"ok\":true}\n");
  auto first = read_response(conn_.reader, 1);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->payload->get<std::string>(), big);
  EXPECT_TRUE(read_response(conn_.reader, 2));  // the buffered rest is kept
}

TEST_F(ExchangeTest, ReadEvent) {
  app_says("{\"id\":1,\"ok\":true}\n{\"id\":2,\"event\":\"closed\",\"outcome\":\"discarded\"}\n"
           "{\"id\":1,\"event\":\"closed\",\"outcome\":\"discarded\"}\n{\"id\":1,\"event\":\"closed\"}\n");
  auto first = read_event(conn_.reader);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, Outcome::kDiscarded);
  auto second = read_event(conn_.reader);
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, Outcome::kDone);
  app_hangs_up();
  auto closed = read_event(conn_.reader);
  ASSERT_FALSE(closed);
  EXPECT_EQ(closed.error().code, "CHANNEL_CLOSED");
}

TEST(ConnectSocket, RefusesPathsTooLongInsteadOfTruncating) {
  auto fd = connect_socket("/tmp/" + std::string(200, 'x'));
  ASSERT_FALSE(fd);
  EXPECT_EQ(fd.error(), ENAMETOOLONG);
}

}  // namespace
}  // namespace elmpad
