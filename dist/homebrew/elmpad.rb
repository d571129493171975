# Homebrew formula for elmpad, to publish in a tap. scripts/release writes
# the copy of a release, with its url and sha256; scripts/formula_check runs
# this file's install and test steps outside Homebrew.
class Elmpad < Formula
  desc "Command-line companion and MCP server for the Elmwrite markdown editor"
  homepage "https://github.com/tarn/elmpad"
  url "https://github.com/tarn/elmpad/releases/download/vVERSION/elmpad-VERSION.tar.gz"
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"

  depends_on "cmake" => :build
  depends_on "ninja" => :build
  # Header-only: compiled in, not needed at run time.
  depends_on "nlohmann-json" => :build

  def install
    # A library's files compiled in units of up to eight: half the time of
    # compiling file by file.
    system "cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DELMPAD_TESTS=OFF", "-DCMAKE_UNITY_BUILD=ON",
           *std_cmake_args
    system "cmake", "--build", "build", "--target", "elmpad"
    # The man pages and the completions of bash, zsh and fish land in the
    # prefix's share/, where Homebrew links them.
    system "cmake", "--install", "build"
  end

  test do
    assert_equal "elmpad #{version}", shell_output("#{bin}/elmpad --version").strip
    # HOME is the test's empty folder, where no app listens.
    assert_match "Elmwrite is not running", shell_output("#{bin}/elmpad status")

    # The server ends at the end of its input: keep it open until both
    # answers are read.
    IO.popen(["#{bin}/elmpad", "mcp"], "r+") do |server|
      server.puts '{"jsonrpc":"2.0","id":1,"method":"initialize","params":' \
                  '{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"brew","version":"1"}}}'
      assert_match '"protocolVersion":"2025-06-18"', server.gets
      server.puts '{"jsonrpc":"2.0","method":"notifications/initialized"}'
      server.puts '{"jsonrpc":"2.0","id":2,"method":"tools/list"}'
      tools = JSON.parse(server.gets)["result"]["tools"].map { |tool| tool["name"] }
      assert_equal 9, tools.size
      assert_includes tools, "read_section"
      server.close_write
    end
    assert_predicate $CHILD_STATUS, :success?
  end
end
