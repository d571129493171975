#include "mcp/in_flight.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace elmpad::mcp {
namespace {

json parsed(const char* text) { return *parse_json(text); }

TEST(SameJson, TypeAndValueMustBothMatch) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"1", "1", true},
      {"1", "1.0", false},
      {"1", "\"1\"", false},
      {"1.0", "1.0", true},
      {"-1", "-1", true},
      {"0", "-0", true},  // signed and unsigned zero are the same integer
      {"-1", "18446744073709551615", false},
      {"18446744073709551615", "18446744073709551615", true},
      {"null", "null", true},
      {"null", "false", false},
      {"true", "true", true},
      {"\"a\"", "\"a\"", true},
      {"[1,\"x\"]", "[1,\"x\"]", true},
      {"[1]", "[1.0]", false},
      {"[1]", "[1,2]", false},
      {"{\"a\":1}", "{\"a\":1}", true},
      {"{\"a\":1}", "{\"a\":1.0}", false},
      {"{\"a\":1}", "{\"b\":1}", false},
      {"{}", "[]", false},
  };
  for (const auto& [a, b, same] : cases) {
    EXPECT_EQ(same_json(parsed(a), parsed(b)), same) << a << " vs " << b;
    EXPECT_EQ(same_json(parsed(b), parsed(a)), same) << b << " vs " << a;
  }
  // Values built in memory: a positive signed integer equals the unsigned one.
  EXPECT_TRUE(same_json(json(std::int64_t{7}), json(std::uint64_t{7})));
}

TEST(CancelledRequestId, OnlyNotificationsWithoutIdNamingARequest) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":7}})", "7"},
      {R"({"method":"notifications/cancelled","params":{"requestId":"7","reason":"x"}})", "\"7\""},
      {R"({"method":"notifications/cancelled","params":{"requestId":null}})", "null"},
      {R"({"method":"notifications/cancelled","params":{"requestId":{"a":[1]}}})", "{\"a\":[1]}"},
      // The method spelled with escapes is the same string.
      {R"({"method":"notifications\/cancelled","params":{"requestId":1}})", "1"},
      {R"({"method":"notifications\u002fcancelle\u0064","params":{"requestId":1}})", "1"},
      // Not cancellations.
      {R"({"id":1,"method":"notifications/cancelled","params":{"requestId":1}})", nullptr},
      {R"({"method":"notifications/cancelled","params":{}})", nullptr},
      {R"({"method":"notifications/cancelled"})", nullptr},
      {R"({"method":"notifications/cancelled","params":[1]})", nullptr},
      {R"({"method":"Notifications/cancelled","params":{"requestId":1}})", nullptr},
      {R"({"method":"notifications/cancelled ","params":{"requestId":1}})", nullptr},
      {R"(["notifications/cancelled"])", nullptr},
      {R"({"method":"notifications/cancelled","params":{"requestId":1})", nullptr},  // unfinished
      {R"({"method":"ping","note":"notifications/cancelled","params":{"requestId":1}})", nullptr},
      {"", nullptr},
  };
  for (const auto& [line, want] : cases) {
    auto got = cancelled_request_id(line);
    if (want == nullptr) {
      EXPECT_FALSE(got.has_value()) << line;
    } else {
      ASSERT_TRUE(got.has_value()) << line;
      EXPECT_TRUE(same_json(got->value, parsed(want))) << line << " gave " << got->value.dump();
    }
  }
}

// Number ids compare by the exact value the client wrote, not by the double
// the library reads, and an integer never equals a float.
TEST(SameId, NumbersCompareByTheirWrittenValue) {
  auto id = [](const std::string& text) {
    return *cancelled_request_id(R"({"method":"notifications/cancelled","params":{"requestId":)" + text + "}}");
  };
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"123456789012345678901234567890", "123456789012345678901234567890", true},
      {"123456789012345678901234567890", "123456789012345678901234567891", false},
      {"123456789012345678901234567890", "1.2345678901234568e+29", false},
      {"123456789012345678901234567890", "123456789012345678901234567890.0", false},
      {"-18446744073709551616", "-18446744073709551616", true},
      {"1e2", "100.0", true},
      {"1.0e2", "100.00", true},
      {"1.50", "1.5", true},
      {"1.0e2", "100", false},
      {"1.05", "1.5", false},
      {"1050e-3", "1.5", false},
      {"1.50", "15E-1", true},
      {"0.1", "0.10000000000000001", false},  // the same double
      {"1e2", "100", false},
      {"1", "1.0", false},
      {"-0", "0", true},
      {"-0.0", "0e7", true},
      {"7", "\"7\"", false},
  };
  for (const auto& [a, b, same] : cases) {
    EXPECT_EQ(same_id(id(a), id(b)), same) << a << " vs " << b;
    EXPECT_EQ(same_id(id(b), id(a)), same) << b << " vs " << a;
  }
  // The text is the requestId's own, not that of a key of the same name elsewhere.
  auto beside = cancelled_request_id(R"({"method":"notifications/cancelled","params":{"requestId":1e2},"x":{"requestId":7}})");
  ASSERT_TRUE(beside.has_value());
  EXPECT_EQ(beside->number_text, "1e2");
  // Ids built in memory compare as they print.
  EXPECT_TRUE(same_id(json(7), id("7")));
  EXPECT_FALSE(same_id(json(7.0), id("7")));
  EXPECT_TRUE(same_id(json(100.0), id("1e2")));
}

TEST(CancelledRequestId, HugeOrDeepLinesAreHarmless) {
  std::string huge = R"({"id":1,"method":"tools/call","params":{"content":")" + std::string(8 << 20, 'x') + "\"}}";
  EXPECT_FALSE(cancelled_request_id(huge).has_value());
  std::string deep = R"({"method":"notifications/cancelled","params":{"requestId":)" + std::string(100000, '[');
  EXPECT_FALSE(cancelled_request_id(deep).has_value());
}

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

TEST_F(InFlightTest, RegisteringWithoutARecordDoesNothing) {
  register_socket(fds_[0]);
  EXPECT_FALSE(abort_if_matches(json(nullptr)));
}

}  // namespace
}  // namespace elmpad::mcp
