#include "app_client/path_text.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

TEST(FileKind, WhatAPathNames) {
  EXPECT_EQ(file_kind("/tmp"), FileKind::kDirectory);
  EXPECT_EQ(file_kind("/dev/null"), FileKind::kOther);
  EXPECT_EQ(file_kind("/no/such/path"), FileKind::kMissing);
  // The system would stop reading at the NUL and look at /tmp.
  EXPECT_EQ(file_kind(std::string("/tmp\0x", 6)), FileKind::kMissing);
}

}  // namespace
}  // namespace elmpad
