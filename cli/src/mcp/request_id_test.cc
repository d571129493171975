#include "mcp/request_id.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace elmpad::mcp {
namespace {

// Number ids compare by the exact value the client wrote, not by the double
// the library reads, and an integer never equals a float.
TEST(SameId, NumbersCompareByTheirWrittenValue) {
  auto id = [](const std::string& text) {
    std::string line = R"({"x":{"requestId":7},"requestId":)" + text + "}";
    auto index = JsonIndex::scan(line);
    return request_id_at(line, *index, *index->member(line, JsonIndex::kRoot, "requestId"));
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
      {"1", "-1", false},
      {"-1.5", "1.5", false},
      {"-2", "-2", true},
      {"-0.0", "0e7", true},
      {"7", "\"7\"", false},
      // At any depth, with the same rules; strings compare by their characters.
      {"[123456789012345678901234567890]", "[123456789012345678901234567891]", false},
      {"[1e2,\"a\"]", "[100.0,\"\\u0061\"]", true},
      {"{\"b\":1,\"a\":[1.0]}", "{\"a\":[1.00],\"b\":1}", true},
      {"{\"a\":1}", "{\"a\":1.0}", false},
      {"{\"a\":1}", "{\"b\":1}", false},
      {"[1]", "[1,2]", false},
      {"[\"1\\\"\"]", "[\"1\\\"\"]", true},
      {"{}", "[]", false},
      {"\"v1.50\"", "\"v1.5\"", false},  // digits in a string are no number
      {"null", "false", false},
  };
  for (const auto& [a, b, same] : cases) {
    EXPECT_EQ(same_id(id(a), id(b)), same) << a << " vs " << b;
    EXPECT_EQ(same_id(id(b), id(a)), same) << b << " vs " << a;
  }
  EXPECT_EQ(id("[1e2, {\"b\":2,\"a\":-0}]").text(), R"([1e2,{"a":-0,"b":2}])");
  // Ids built in memory compare as they print.
  EXPECT_TRUE(same_id(json(7), id("7")));
  EXPECT_FALSE(same_id(json(7.0), id("7")));
  EXPECT_TRUE(same_id(json(100.0), id("1e2")));
}

}  // namespace
}  // namespace elmpad::mcp
