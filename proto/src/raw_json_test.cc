#include "raw_json.h"

#include <gtest/gtest.h>

#include <vector>

#include "json_text.h"

namespace elmpad {
namespace {

std::string printed(std::string_view text, bool twice, const JsonIndex::Extra* extra = nullptr) {
  auto index = JsonIndex::scan(text);
  std::string out = "<";
  index->append_compact(text, JsonIndex::kRoot, out, twice, extra);
  return out.substr(1);
}

// What the scanner accepts, the library accepts, and both print it alike,
// once and escaped twice. (Refusing is always allowed: the library then
// decides.)
::testing::AssertionResult agrees(std::string_view text) {
  auto index = JsonIndex::scan(text);
  if (!index) return ::testing::AssertionSuccess();
  auto parsed = parse_json(text);
  if (!parsed) return ::testing::AssertionFailure() << "accepted what the library refuses: " << parsed.error();
  std::string want = compact(*parsed);
  if (printed(text, false) != want) return ::testing::AssertionFailure() << printed(text, false) << " != " << want;
  std::string quoted = *json_string(want);
  std::string inside = quoted.substr(1, quoted.size() - 2);
  if (printed(text, true) != inside) return ::testing::AssertionFailure() << printed(text, true) << " != " << inside;
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

TEST(JsonIndex, RefusesWhatTheLibraryRefusesAndLeavesItsQuirksToIt) {
  for (const std::string& text : std::vector<std::string>{
           "", " ", "{", "}", "[1,]", "[,1]", "{\"a\":1,}", "{\"a\" 1}", "{1:2}", "01", "1.", ".5", "1e", "-",
           "+1", "--1", "1e400", "tru", "nul", "[true false]", "\"a", "\"\\x\"", "\"\\u12\"", "\"\\ud800\"",
           "\"\\ud800\\u0041\"", "\"\\udc00\"", "\"a\tb\"", "\"\x01\"", "\"\xc3\"", "\"\xed\xa0\x80\"",
           "\"\xf4\x90\x80\x80\"", "\"\xc0\xaf\"", "1 2", "{} x", "1/", "NaN", "Infinity",
           std::string("{\"id\":1}\0junk", 13), std::string("\0", 1),
           // Valid, but left to the library: a byte order mark, a repeated key, deep nesting.
           "\xEF\xBB\xBF{}", R"({"a":1,"a":2})", R"({"b":{"x":1,"y":2,"x":3}})", R"({"b":1,"a":1,"b":2})",
           std::string(257, '[') + std::string(257, ']'),
       }) {
    EXPECT_FALSE(JsonIndex::scan(text).has_value()) << text;
  }
}

TEST(JsonIndex, MembersAndCounts) {
  std::string text = R"({"id":18446744073709551615,"ok":true,"data":{"x":1},"n":-1,"f":1.0,"big":18446744073709551616})";
  auto index = JsonIndex::scan(text);
  ASSERT_TRUE(index);
  auto id = index->member(text, JsonIndex::kRoot, "id");
  ASSERT_TRUE(id);
  EXPECT_EQ(index->as_u64(text, *id), UINT64_MAX);
  EXPECT_EQ(index->kind(*index->member(text, JsonIndex::kRoot, "ok")), JsonIndex::Kind::kTrue);
  EXPECT_EQ(index->kind(*index->member(text, JsonIndex::kRoot, "data")), JsonIndex::Kind::kObject);
  EXPECT_FALSE(index->member(text, JsonIndex::kRoot, "missing"));
  for (const char* key : {"n", "f", "big", "data"}) {
    EXPECT_FALSE(index->as_u64(text, *index->member(text, JsonIndex::kRoot, key))) << key;
  }
}

TEST(JsonIndex, ExtraMemberReplacesOrJoinsInKeyOrder) {
  JsonIndex::Extra version{"version", R"("2.0.0")"};
  EXPECT_EQ(printed(R"({"z":1,"version":"9","a":2})", false, &version), R"({"a":2,"version":"2.0.0","z":1})");
  EXPECT_EQ(printed(R"({"z":1,"a":2})", false, &version), R"({"a":2,"version":"2.0.0","z":1})");
  EXPECT_EQ(printed(R"({"a":2})", false, &version), R"({"a":2,"version":"2.0.0"})");
  EXPECT_EQ(printed(R"({})", true, &version), R"({\"version\":\"2.0.0\"})");
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
  raw.set_member("version", R"("1")");
  out.clear();
  raw.append_compact(out, false);
  EXPECT_EQ(out, R"({"a":[1,2],"b":"\"x\"","version":"1"})");
}

}  // namespace
}  // namespace elmpad
