#include "line_buffer.h"

#include <vector>

#include <gtest/gtest.h>

namespace elmpad::headless {
namespace {

std::vector<std::string> drain(LineBuffer& lines) {
  std::vector<std::string> out;
  while (auto line = lines.next()) out.emplace_back(*line);
  return out;
}

TEST(LineBuffer, LinesComeWholeHoweverTheBytesArrive) {
  LineBuffer lines;
  lines.append("a\nbc");
  EXPECT_EQ(drain(lines), std::vector<std::string>{"a"});
  EXPECT_EQ(lines.pending(), 2u);
  lines.append("d");
  EXPECT_EQ(drain(lines), std::vector<std::string>{});
  lines.append("e\r\n\nf\ng");
  EXPECT_EQ(drain(lines), (std::vector<std::string>{"bcde\r", "", "f"}));
  EXPECT_EQ(lines.pending(), 1u);
  EXPECT_EQ(lines.rest(), "g");
  EXPECT_EQ(lines.rest(), std::nullopt);
  lines.append("\nh\n");
  EXPECT_EQ(drain(lines), (std::vector<std::string>{"", "h"}));
  EXPECT_EQ(lines.rest(), std::nullopt);
}

// A line sent a byte at a time: searching the whole pending line after
// every byte would take hours here; each byte is looked at once instead.
TEST(LineBuffer, ALongLineTrickledInBytesArrivesWhole) {
  constexpr std::size_t kLength = 4u << 20;
  LineBuffer lines;
  for (std::size_t i = 0; i < kLength; ++i) {
    lines.append(std::string_view("x", 1));
    ASSERT_EQ(lines.next(), std::nullopt);
  }
  EXPECT_EQ(lines.pending(), kLength);
  lines.append("\n");
  auto line = lines.next();
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->size(), kLength);
  EXPECT_EQ(lines.pending(), 0u);
}

}  // namespace
}  // namespace elmpad::headless
