#include "utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

namespace elmpad {
namespace {

TEST(Utf8, Validity) {
  EXPECT_TRUE(is_utf8("plain — 会议 😀"));
  for (const char* bad : {"\xff", "\xc3", "\xe2\x80", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80"}) {
    EXPECT_FALSE(is_utf8(bad)) << bad;
    // Anywhere in a longer text, before, inside or after runs of ASCII.
    for (std::size_t at = 0; at < 20; ++at) {
      std::string text = std::string(at, 'a') + bad + std::string(20 - at, 'b');
      EXPECT_FALSE(is_utf8(text)) << at;
      EXPECT_TRUE(is_utf8(std::string(at, 'a') + "é" + std::string(20 - at, 'b'))) << at;
    }
  }
}

TEST(Utf8, LossyReplacesEachMaximalBadSubpart) {
  EXPECT_EQ(utf8_lossy("a\xff" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(utf8_lossy("\xe2\x80" "x"), "\xEF\xBF\xBD" "x");         // truncated sequence: one mark
  EXPECT_EQ(utf8_lossy("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate: three
  EXPECT_EQ(utf8_lossy("ok — 会"), "ok — 会");
}

TEST(EncodeUtf8, WritesEachLengthAtItsBoundaries) {
  const std::pair<char32_t, std::string> cases[] = {
      {U'\x7F', "\x7F"},          {U'\x80', "\xC2\x80"},         {U'\x7FF', "\xDF\xBF"},
      {U'\x800', "\xE0\xA0\x80"}, {U'\xFFFF', "\xEF\xBF\xBF"}, {U'\x10000', "\xF0\x90\x80\x80"},
      {U'\x10FFFF', "\xF4\x8F\xBF\xBF"}};
  for (const auto& [cp, bytes] : cases) {
    char out[4];
    EXPECT_EQ(std::string(out, encode_utf8(cp, out)), bytes) << static_cast<std::uint32_t>(cp);
  }
}

}  // namespace
}  // namespace elmpad
