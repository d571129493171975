#include "json_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace elmpad {
namespace {

TEST(JsonIndex, RefusesWhatTheLibraryRefusesAndLeavesItsQuirksToIt) {
  for (const std::string& text : std::vector<std::string>{
           "", " ", "{", "}", "[1,]", "[,1]", "{\"a\":1,}", "{\"a\" 1}", "{1:2}", "01", "1.", ".5", "1e", "-",
           "+1", "--1", "1e400", "tru", "nul", "[true false]", "\"a", "\"\\x\"", "\"\\u12\"", "\"\\ud800\"",
           "\"\\ud800\\u0041\"", "\"\\udbff\"", "\"\\udc00\"", "\"a\tb\"", "\"\x01\"", "\"\xc3\"", "\"\xed\xa0\x80\"",
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
  // Keys out of order are found through their sorted order.
  std::string unsorted = R"({"z":1,"a":2,"m":3,"\u0062":4})";
  auto by_key = JsonIndex::scan(unsorted);
  for (auto [key, value] : {std::pair{"a", "2"}, {"b", "4"}, {"m", "3"}, {"z", "1"}}) {
    auto found = by_key->member(unsorted, JsonIndex::kRoot, key);
    ASSERT_TRUE(found) << key;
    EXPECT_EQ(by_key->raw(unsorted, *found), value);
  }
  for (const char* key : {"", "c", "zz", "0"}) EXPECT_FALSE(by_key->member(unsorted, JsonIndex::kRoot, key)) << key;
  EXPECT_FALSE(by_key->member(unsorted, *by_key->member(unsorted, JsonIndex::kRoot, "a"), "a"));  // not an object
}

// A text is read to its own end, never into the bytes that follow it in
// memory (a line cut out of a larger buffer).
TEST(JsonIndex, ReadsATextToItsEndAndNoFurther) {
  const std::string buffer = R"([12.5],{"a":1}x)";
  auto number = JsonIndex::scan(std::string_view(buffer).substr(1, 2));  // 12 of 12.5
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(number->raw(buffer.substr(1, 2), JsonIndex::kRoot), "12");
  EXPECT_TRUE(JsonIndex::scan(std::string_view(buffer).substr(1, 4)).has_value());  // 12.5
  EXPECT_FALSE(JsonIndex::scan(std::string_view(buffer).substr(1, 3)).has_value());  // 12.
  EXPECT_FALSE(JsonIndex::scan(std::string_view(buffer).substr(0, 5)).has_value());  // [12.5 unclosed
  EXPECT_FALSE(JsonIndex::scan(std::string_view(buffer).substr(7, 6)).has_value());  // {"a":1 unclosed
  EXPECT_TRUE(JsonIndex::scan(std::string_view(buffer).substr(7, 7)).has_value());
  // Each run of digits stops at the end: 12 of 123, 1.2 of 1.23, 1e5 of 1e55.
  for (std::string_view whole : {"123", "1.23", "1e55", "-45"}) {
    std::string_view cut = whole.substr(0, whole.size() - 1);
    auto index = JsonIndex::scan(cut);
    ASSERT_TRUE(index.has_value()) << cut;
    EXPECT_EQ(index->raw(cut, JsonIndex::kRoot), cut);
  }
}

}  // namespace
}  // namespace elmpad
