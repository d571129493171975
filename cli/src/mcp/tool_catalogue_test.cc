#include "mcp/tool_catalogue.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "mcp/json_rpc.h"

namespace elmpad::mcp {
namespace {

// The catalogue as agents see it, byte for byte.
TEST(ToolCatalogue, ExactTextOfTheToolsListReply) {
  std::ifstream file(TEST_DATA_DIR "/tools_list_reply.txt", std::ios::binary);
  ASSERT_TRUE(file) << "missing expected reply file";
  std::stringstream want;
  want << file.rdbuf();
  // Twice: the second answer comes from the text kept after the first.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(handle_line(R"({"id":1,"method":"tools/list"})", {})->text() + "\n", want.str());
}

}  // namespace
}  // namespace elmpad::mcp
