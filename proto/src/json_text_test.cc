#include "json_text.h"

#include <gtest/gtest.h>

namespace elmpad {
namespace {

// A number is found as it was written, and only at the end of the path:
// not in an array, not under another key, not where the path goes on.
TEST(NumberTextAt, TheNumberAsWrittenAtTheEndOfThePath) {
  EXPECT_EQ(number_text_at(R"({"id":1.50})", {"id"}), "1.50");
  EXPECT_EQ(number_text_at(R"({"x":{"id":2},"id":-0})", {"id"}), "-0");
  EXPECT_EQ(number_text_at(R"({"params":{"requestId":1E2},"requestId":3})", {"params", "requestId"}), "1E2");
  EXPECT_EQ(number_text_at(R"({"id":1e2,"id":2.0})", {"id"}), "2.0");
  EXPECT_EQ(number_text_at(R"({"id":[1e2]})", {"id"}), std::nullopt);
  EXPECT_EQ(number_text_at(R"([{"id":1e2}])", {"id"}), std::nullopt);
  EXPECT_EQ(number_text_at(R"({"id":{"id":1e2}})", {"id"}), std::nullopt);
  EXPECT_EQ(number_text_at(R"({"id":"1e2"})", {"id"}), std::nullopt);
  EXPECT_EQ(number_text_at(std::string("{\"id\":1e2}\0", 11), {"id"}), std::nullopt);
}

}  // namespace
}  // namespace elmpad
