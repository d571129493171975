#include "mcp/tool_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "fake_app.h"
#include "mcp/in_flight.h"
#include "mcp/tool_catalogue.h"
#include "support.h"
#include "temp_home.h"

namespace elmpad::mcp {
namespace {

std::string outcome_text(const ToolOutcome& outcome) {
  if (auto* error = std::get_if<ProtocolError>(&outcome)) {
    return "protocol error " + std::to_string(error->code) + ": " + error->message;
  }
  return std::get<ToolResult>(outcome).text().text();
}

class CallTool : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("HOME", home_.path().c_str(), 1); }
  // Attaching only ever ends refused.
  bool app_heard_only_attaching() {
    for (const auto& line : app_.received()) {
      if (line.find(R"("cmd":"attach_session")") == std::string::npos) return false;
    }
    return true;
  }
  testing::TempHome home_;
  testing::FakeApp app_{home_.path()};
};

// Each argument the catalogue marks required is checked by its tool before
// anything is touched: absent, empty or not text, it is the clear error.
TEST_F(CallTool, EveryRequiredArgumentIsChecked) {
  std::string dir = home_.make_dir("folder");
  int checked = 0;
  for (const auto& tool : tool_schemas()) {
    const json& schema = tool["inputSchema"];
    json valid = json::object();
    for (const auto& [key, property] : schema["properties"].items()) {
      valid[key] = property.value("type", "") != "string" ? json(1) : key == "operation" ? json("append") : json(dir);
    }
    for (const std::string key : schema.value("required", json::array())) {
      for (const json& wrong : {json(), json(""), json(5)}) {
        // The one required text that may be empty.
        if (wrong == "" && tool["name"] == "write_section" && key == "content") continue;
        json arguments = valid;
        if (wrong.is_null()) {
          arguments.erase(key);
        } else {
          arguments[key] = wrong;
        }
        EXPECT_EQ(outcome_text(call_tool(tool["name"].get<std::string>(), arguments)),
                  "protocol error -32602: missing required argument: " + key)
            << tool["name"] << " " << arguments.dump();
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 20);
  EXPECT_TRUE(app_heard_only_attaching());
}

TEST_F(CallTool, OtherArgumentErrors) {
  const std::string either = "wait_for_change needs at least one of: path, workspace";
  const std::tuple<const char*, json, std::string> cases[] = {
      {"Open_file", json{{"path", "a.md"}}, "unknown tool: Open_file"},
      {"open_file", json::array({"path"}), "missing required argument: path"},
      {"wait_for_change", json{{"name", "n"}}, either},
      {"wait_for_change", json{{"path", ""}, {"workspace", ""}}, either},
      {"wait_for_change", json{{"path", 1}, {"workspace", false}}, either},
  };
  for (const auto& [name, arguments, message] : cases) {
    EXPECT_EQ(outcome_text(call_tool(name, arguments)), "protocol error -32602: " + message) << arguments.dump();
  }
  EXPECT_TRUE(app_heard_only_attaching());
}

TEST_F(CallTool, TimeoutIsSentOnlyAsAPlainNonNegativeInteger) {
  std::string file = home_.write_file("n.md", "");
  const std::pair<const char*, const char*> cases[] = {
      {"30", ",\"timeout_secs\":30"}, {"0", ",\"timeout_secs\":0"},
      {"18446744073709551615", ",\"timeout_secs\":18446744073709551615"},
      {"-5", ""}, {"2.5", ""}, {"30.0", ""}, {"1e2", ""}, {"\"30\"", ""}, {"null", ""},
      {"18446744073709551616", ""}, {"-0", ""},
  };
  for (const auto& [timeout, sent] : cases) {
    auto args = *parse_json(std::string(R"({"path":")") + file + R"(","timeout_seconds":)" + timeout + "}");
    auto outcome = call_tool("wait_for_change", args);
    EXPECT_EQ(outcome_text(outcome), R"({"content":[{"text":"{\"changed\":false,\"timedOut\":true}","type":"text"}]})");
    EXPECT_EQ(app_.received().back(), R"({"id":1,"proto":1,"cmd":"wait_for_change","path":")" + file + "\"" + sent + "}\n")
        << timeout;
  }
}

// Only a wait exposes its connection to a cancellation (the read may have
// ended by then: its connection was never offered either way).
TEST_F(CallTool, OnlyAWaitCanBeCancelled) {
  std::string file = home_.write_file("n.md", "");
  app_.hold("wait_for_change");
  const std::pair<std::string, std::string> cases[] = {
      {"wait_for_change", R"({\"cancelled\":true,\"changed\":false,\"source\":\"cancelled\"})"},
      {"read_section", R"({\"ok\":true})"},
  };
  for (const auto& [tool, payload] : cases) {
    InFlightScope in_flight{json(tool)};
    std::string outcome;
    std::thread call([&, tool = tool] { outcome = outcome_text(call_tool(tool, json{{"path", file}})); });
    bool reached = testing::eventually([&] {
      auto lines = app_.received();
      return !lines.empty() && lines.back().find("\"cmd\":\"" + tool) != std::string::npos;
    });
    bool cancelled = abort_if_matches(json(tool));
    app_.release();
    call.join();
    EXPECT_TRUE(reached);
    EXPECT_EQ(cancelled, tool == "wait_for_change") << tool;
    EXPECT_EQ(outcome, R"({"content":[{"text":")" + payload + R"(","type":"text"}]})");
  }
}

// Only a wait runs long (progress, a task), whatever the arguments.
TEST_F(CallTool, OnlyAWaitRunsLong) {
  for (const auto& tool : tool_schemas()) {
    std::string name = tool["name"];
    json arguments{{"path", "/n.md"}, {"id", "x"}, {"text", "t"}, {"operation", "append"}, {"content", ""}};
    auto prepared = prepare_tool(name, arguments, kRevision20260728);
    ASSERT_TRUE(prepared.has_value()) << name;
    EXPECT_EQ(prepared->long_running(), name == "wait_for_change") << name;
  }
}

}  // namespace
}  // namespace elmpad::mcp
