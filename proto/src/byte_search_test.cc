#include "byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace elmpad::byte_search {
namespace {

// Both block sizes against a plain loop, on blocks built from the bytes at
// the edges of each class.
TEST(ByteSearch, FindsTheFirstByteOfInterest) {
  const unsigned char kBytes[] = {0x00, 0x01, 0x1F, 0x20, 0x21, '"', '#', '[', '\\', ']', 0x7F, 0x80, 0xC3, 0xFF, 'a'};
  auto special = [](unsigned char c) { return c == '"' || c == '\\' || c < 0x20 || c >= 0x80; };
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    std::string block(16, 'a');
    for (int k = static_cast<int>(rng() % 4); k > 0; --k) block[rng() % 16] = static_cast<char>(kBytes[rng() % sizeof kBytes]);
    auto expect = [&](std::ptrdiff_t size, auto&& is) {
      for (std::ptrdiff_t i = 0; i < size; ++i) {
        if (is(static_cast<unsigned char>(block[i]))) return i;
      }
      return size;
    };
    ASSERT_EQ(first_string_special(block.data()), expect(kBlock, special)) << block;
    ASSERT_EQ(first_backslash(block.data()), expect(kBlock, [](unsigned char c) { return c == '\\'; })) << block;
    ASSERT_EQ(word::first_string_special(block.data()), expect(word::kBlock, special)) << block;
    ASSERT_EQ(word::first_backslash(block.data()), expect(word::kBlock, [](unsigned char c) { return c == '\\'; }))
        << block;
  }
}

}  // namespace
}  // namespace elmpad::byte_search
