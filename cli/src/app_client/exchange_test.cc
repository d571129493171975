#include "app_client/exchange.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace elmpad {
namespace {

// One end is the tool's connection, the other plays the application.
class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    auto conn = make_connection(UniqueFd(fds[0]));
    ASSERT_TRUE(conn);
    conn_ = std::move(*conn);
    app_ = UniqueFd(fds[1]);
  }
  void app_says(const std::string& bytes) { ASSERT_TRUE(write_all(app_.get(), bytes)); }
  void app_hangs_up() { app_.reset(); }

  Connection conn_;
  UniqueFd app_;
};

// Events and other ids are skipped; a refusal becomes code and params, its
// data dropped; an error beside ok is ignored.
TEST_F(ExchangeTest, ReadResponse) {
  app_says("{\"id\":1,\"event\":\"x\"}\n{\"id\":2,\"ok\":false}\n{\"id\":1,\"ok\":true,\"data\":{\"a\":1}}\n"
           "{\"id\":2,\"ok\":false,\"data\":5,\"error\":{\"code\":\"HEADING_NOT_FOUND\"}}\n{\"id\":3,\"ok\":false}\n"
           "{\"id\":4,\"ok\":true,\"error\":{\"code\":\"IGNORED\"}}\n");
  const std::pair<bool, std::string> want[] = {
      {true, R"({"a":1})"}, {false, R"({"code":"HEADING_NOT_FOUND","params":{}})"}, {false, ""}, {true, ""}};
  for (std::uint64_t id = 1; id <= 4; ++id) {
    auto answer = read_response(conn_.reader, id);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->ok, want[id - 1].first);
    EXPECT_EQ(answer->payload ? compact(*answer->payload) : "", want[id - 1].second);
  }
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

// A connection whose application side has said `bytes` and hung up.
Connection connection_after(const std::string& bytes) {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  UniqueFd app(fds[1]);
  EXPECT_TRUE(write_all(app.get(), bytes));
  return std::move(*make_connection(UniqueFd(fds[0])));
}

std::string printed(const Payload& data) {
  if (const auto* tree = std::get_if<json>(&data)) return compact(*tree);
  std::string out;
  std::get<RawJson>(data).append_compact(out, false);
  return out;
}

// What read_response_passed hands on is what read_response reads, failures
// included; and the common answer is passed on as text, never parsed.
// That both ways agree on any stream is the server-message fuzz target's
// check; here, the lines that must go each way.
TEST_F(ExchangeTest, PassedAnswersAgreeWithParsedOnes) {
  struct Case {
    std::string bytes;
    bool as_text = false;  // the data is expected as checked text
  };
  const Case cases[] = {
      {"{\"id\":1,\"ok\":true,\"data\":{\"z\":\"\\\"\u00e9\\n\\u00e9\",\"a\":[1,2.50,-0,1e2,true,null]}}\n", true},
      {"{\"event\":\"x\",\"id\":1}\n{\"id\":2,\"ok\":true,\"data\":1}\n{\"ok\":true,\"id\":1,\"data\":\"x\"} \r\n", true},
      // Left to the parser: a repeated key, a byte order mark, an error
      // beside ok true.
      {"{\"id\":1,\"ok\":true,\"data\":{\"a\":1,\"a\":2}}\n"},
      {"\xEF\xBB\xBF{\"id\":1,\"ok\":true,\"data\":[]}\n"},
      {"{\"id\":1,\"ok\":true,\"error\":{\"code\":\"X\"},\"data\":3}\n"},
      {"{\"id\":1,\"ok\":false,\"error\":{\"code\":\"NOT_FOUND\",\"params\":{\"b\":\"2\",\"a\":\"1\"}},\"data\":1}\n"},
      {"{\"id\":1,\"ok\":true,\"data\":\"\xc3\"}\n"},
      {std::string("{\"id\":1,\"ok\":true,\"data\":2}\0\n", 29)},
  };
  for (const auto& c : cases) {
    Connection parsed_conn = connection_after(c.bytes), passed_conn = connection_after(c.bytes);
    auto parsed = read_response(parsed_conn.reader, 1);
    auto passed = read_response_passed(passed_conn.reader, 1);
    ASSERT_EQ(parsed.has_value(), passed.has_value()) << c.bytes;
    if (!parsed) {
      EXPECT_EQ(parsed.error(), passed.error()) << c.bytes;
      continue;
    }
    EXPECT_EQ(parsed->ok, passed->ok) << c.bytes;
    if (parsed->ok) {
      EXPECT_FALSE(passed->error);
      ASSERT_EQ(parsed->payload.has_value(), passed->data.has_value()) << c.bytes;
      if (!parsed->payload) continue;
      EXPECT_EQ(printed(*passed->data), compact(*parsed->payload)) << c.bytes;
      EXPECT_EQ(std::holds_alternative<RawJson>(*passed->data), c.as_text) << c.bytes;
    } else {
      EXPECT_FALSE(passed->data);
      EXPECT_EQ(parsed->payload, passed->error) << c.bytes;
    }
  }
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

}  // namespace
}  // namespace elmpad
