#include "utf8.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace elmpad
