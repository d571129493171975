#include "mcp/tool_catalogue.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "mcp/json_rpc.h"

namespace elmpad::mcp {
namespace {

TEST(ToolCatalogue, NineToolsInOfferingOrder) {
  auto parsed = parse_json(kToolCatalogueText);
  ASSERT_TRUE(parsed.has_value()) << parsed.error();
  json tools = tool_schemas();
  ASSERT_EQ(tools.size(), 9u);
  std::vector<std::string> names;
  for (const auto& tool : tools) {
    names.push_back(tool["name"]);
    EXPECT_EQ(tool.size(), 3u) << tool["name"];
    EXPECT_EQ(tool["inputSchema"]["type"], "object");
  }
  EXPECT_EQ(names, (std::vector<std::string>{"open_file", "open_folder", "reveal", "get_context", "execute_command",
                                             "read_section", "write_section", "wait_for_change", "post_message"}));
  EXPECT_EQ(compact(tools[3]["inputSchema"]), R"({"properties":{},"type":"object"})");
  EXPECT_EQ(compact(tools[6]["inputSchema"]["required"]), R"(["path","operation","content"])");
  EXPECT_EQ(compact(tools[6]["inputSchema"]["properties"]["operation"]["enum"]), R"(["append","prepend","replace"])");
  EXPECT_FALSE(tools[7]["inputSchema"].contains("required"));
  EXPECT_EQ(tools[7]["inputSchema"]["properties"].size(), 4u);
  EXPECT_EQ(tool_schemas(), tools);
}

TEST(ToolCatalogue, ExactTextOfTheToolsListReply) {
  std::ifstream file(TEST_DATA_DIR "/tools_list_reply.txt", std::ios::binary);
  ASSERT_TRUE(file) << "missing expected reply file";
  std::stringstream want;
  want << file.rdbuf();
  // Twice: the second answer comes from the text kept after the first.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(handle_line(R"({"id":1,"method":"tools/list"})")->text() + "\n", want.str());
}

}  // namespace
}  // namespace elmpad::mcp
