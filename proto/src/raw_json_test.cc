#include "raw_json.h"

#include <gtest/gtest.h>

#include <vector>

#include "json_text.h"

namespace elmpad {
namespace {

std::string printed(std::string_view text, bool twice, JsonIndex::Accept accept = JsonIndex::Accept::kStrict) {
  auto index = JsonIndex::scan(text, accept);
  std::string out = "<";
  append_compact(*index, text, JsonIndex::kRoot, out, twice);
  return out.substr(1);
}

// What the scanner accepts, the library accepts, and both print it alike,
// once and escaped twice. (Refusing is always allowed: the library then
// decides.)
::testing::AssertionResult agrees(std::string_view text, JsonIndex::Accept accept = JsonIndex::Accept::kStrict) {
  auto index = JsonIndex::scan(text, accept);
  if (!index) return ::testing::AssertionSuccess();
  auto parsed = parse_json(text);
  if (!parsed) return ::testing::AssertionFailure() << "accepted what the library refuses: " << parsed.error();
  std::string want = compact(*parsed);
  std::string once = printed(text, false, accept);
  if (once != want) return ::testing::AssertionFailure() << once << " != " << want;
  std::string quoted = *json_string(want);
  std::string inside = quoted.substr(1, quoted.size() - 2);
  std::string twice = printed(text, true, accept);
  if (twice != inside) return ::testing::AssertionFailure() << twice << " != " << inside;
  return ::testing::AssertionSuccess();
}

TEST(JsonIndex, PrintsWhatTheLibraryPrints) {
  // Each must be taken by the scanner, not left to the library.
  for (const std::string& text : std::vector<std::string>{
           R"({"z":1,"a":{"y":[true,false,null],"b":"x"}})",
           " \t\r\n{ \"b\" : [ 1 , -2 , 0 , -0.5 , 1e2 , 1E-2 , 2.50 ] , \"a\" : \"\" } \n",
           R"(["\"\\\/\b\f\n\r\t", "\u0000\u001f\u007f\u0041\u00e9\u2028\ud83d\ude00", "é—会🙂", "a/b"])",
           R"({"\u0062":1,"a":2,"\u00e9":3,"e":4})",  // keys compared as what they stand for
           R"({"b":1,"a":2,"B":3,"":4,"é":5,"~":6})",  // byte order, not locale order
           "18446744073709551615", "18446744073709551616", "-9223372036854775808", "-0", "9999999999999999999",
           "-999999999999999999", "[-0.0,1.0,100,1e308,5e-324,123456789012345678901234567890]", "\"\x7f\"",
           std::string(256, '[') + std::string(256, ']'),
       }) {
    ASSERT_TRUE(JsonIndex::scan(text).has_value()) << text;
    EXPECT_TRUE(agrees(text)) << text;
  }
}

// Read as the library reads them, a repeated key keeps its last value and a
// byte order mark is skipped: found, and printed, as the library's value.
TEST(JsonIndex, ReadAsTheLibraryTheLastOfARepeatedKeyCounts) {
  using enum JsonIndex::Accept;
  for (const std::string& text : std::vector<std::string>{
           R"({"a":1,"a":2})", R"({"b":{"x":1,"y":2,"x":3}})", R"({"b":1,"a":1,"b":2})", R"({"a":1,"a":2,"a":[3]})",
           "\xEF\xBB\xBF{\"id\":1}", R"({"\u0061":1,"a":2,"b":{"c":1,"c":{"d":0,"d":1}}})"}) {
    ASSERT_TRUE(JsonIndex::scan(text, kAsLibrary).has_value()) << text;
    EXPECT_TRUE(agrees(text, kAsLibrary)) << text;
  }
  std::string text = R"({"id":1.50,"x":0,"id":2.0})";
  auto index = JsonIndex::scan(text, kAsLibrary);
  EXPECT_EQ(index->raw(text, *index->member(text, JsonIndex::kRoot, "id")), "2.0");
  EXPECT_FALSE(index->member(text, JsonIndex::kRoot, "y"));
  // What the library refuses stays refused.
  for (const std::string& text : std::vector<std::string>{"\xEF\xBB\xBF", "\xEF\xBB{}", " \xEF\xBB\xBF{}", "{\"a\":1,\"a\":}"}) {
    EXPECT_FALSE(JsonIndex::scan(text, kAsLibrary).has_value()) << text;
  }
}

TEST(RawJson, OwnsItsTextAndPrintsOneValueOfIt) {
  std::string line = R"({"id":1,"ok":true,"data":{"b":"\"x\"","a":[1,2]}})";
  auto index = JsonIndex::scan(line);
  auto data = *index->member(line, JsonIndex::kRoot, "data");
  RawJson raw(std::move(line), std::move(*index), data);
  std::string out;
  raw.append_compact(out, true);
  EXPECT_EQ(out, R"({\"a\":[1,2],\"b\":\"\\\"x\\\"\"})");
  EXPECT_TRUE(raw.is_object());
  EXPECT_EQ(raw.tree(), (json{{"a", {1, 2}}, {"b", "\"x\""}}));
}

}  // namespace
}  // namespace elmpad
