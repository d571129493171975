#include "mcp/request_id.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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
  };
  for (const auto& [a, b, same] : cases) {
    EXPECT_EQ(same_id(id(a), id(b)), same) << a << " vs " << b;
    EXPECT_EQ(same_id(id(b), id(a)), same) << b << " vs " << a;
  }
  EXPECT_EQ(id("1e2").number_text, "1e2");
  EXPECT_EQ(id("\"1e2\"").number_text, "");
  // Ids built in memory compare as they print.
  EXPECT_TRUE(same_id(json(7), id("7")));
  EXPECT_FALSE(same_id(json(7.0), id("7")));
  EXPECT_TRUE(same_id(json(100.0), id("1e2")));
}

}  // namespace
}  // namespace elmpad::mcp
