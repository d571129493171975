#include "app_client/spawn.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

TEST(CaptureOutput, ReadsTheWholeOutputAndNothingElse) {
  // Written in two pieces, the first a single byte: both are read.
  EXPECT_EQ(capture_output({"sh", "-c", "printf a; sleep 0.1; printf bc; echo dropped >&2"}).value_or("?"), "abc");
  // No standard input: a reader of it ends at once.
  EXPECT_EQ(capture_output({"cat"}).value_or("?"), "");
}

}  // namespace
}  // namespace elmpad
