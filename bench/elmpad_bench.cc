// Measures what users feel: process start-up (`--version`), a full `status`
// round trip against a fake application, and an MCP session's first answer.
// Prints the median and the 90th percentile of each; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "fake_app.h"
#include "run_elmpad.h"
#include "temp_home.h"

using namespace elmpad::testing;
using Clock = std::chrono::steady_clock;

namespace {

void measure(const char* name, int runs, const std::function<void()>& body) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    body();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-34s median %7.2f ms   p90 %7.2f ms   (%d runs)\n", name, ms[ms.size() / 2],
              ms[ms.size() * 9 / 10], runs);
}

}  // namespace

int main() {
  TempHome home;
  measure("elmpad --version", 50, [&] { run_elmpad({.args = {"--version"}, .home = home.path()}); });
  measure("elmpad status (app absent)", 50, [&] { run_elmpad({.args = {"status"}, .home = home.path()}); });
  {
    FakeApp app(home.path());
    measure("elmpad status (round trip)", 50, [&] { run_elmpad({.args = {"status"}, .home = home.path()}); });
    measure("elmpad mcp: spawn to first answer", 30, [&] {
      Child mcp({.args = {"mcp"}, .home = home.path()});
      mcp.write("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n");
      (void)mcp.read_line();
      mcp.close_stdin();
      mcp.wait();
    });
  }
  return 0;
}
