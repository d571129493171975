#include "spare_line.h"

#include <gtest/gtest.h>

#include "line_reader.h"

namespace elmpad {
namespace {

TEST(SpareLine, KeepsTheLargestStorageEmptiedAndNothingHuge) {
  SpareLine spare;
  EXPECT_EQ(spare.take().capacity(), std::string().capacity());

  std::string big(1 << 20, 'x');
  std::string small(kReaderBufferSize * 2, 'y');
  const char* big_storage = big.data();
  spare.give_back(std::move(big));
  spare.give_back(std::move(small));  // smaller: not kept in its place
  std::string reused = spare.take();
  EXPECT_EQ(reused.data(), big_storage);
  EXPECT_EQ(reused, "");
  EXPECT_EQ(spare.take().capacity(), std::string().capacity());  // taken once

  std::string huge;
  huge.reserve(kMaxSpareLine + 1);
  spare.give_back(std::move(huge));
  EXPECT_EQ(spare.take().capacity(), std::string().capacity());
}

}  // namespace
}  // namespace elmpad
