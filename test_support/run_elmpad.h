// Runs the built `elmpad` as a user or an agent would: its own arguments,
// a scrubbed environment (a test HOME, the fake `open` and `ps` first on
// PATH), standard input from the test, and every output captured. Standard
// output is a pipe, so the end of it also waits for what elmpad left running
// with it (an `open` it did not wait for); standard error is a file.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "line_reader.h"

namespace elmpad::testing {

struct RunResult {
  int status = -1;  // exit status; 128+N when ended by signal N
  std::string out;
  std::string err;
};

struct RunOptions {
  std::vector<std::string> args;
  /// HOME; nullopt leaves it unset.
  std::optional<std::string> home;
  /// Extra variables (nullopt unsets one); PATH starts with the fake bin dir.
  std::map<std::string, std::optional<std::string>> env;
  std::string cwd;  // empty: inherit; else the child starts there
  std::string program;  // empty: the elmpad under test
};

/// The environment a run gets: PATH=<fakes>:/usr/bin:/bin, HOME, the
/// sanitizer settings of the test process, and `options.env` on top.
std::vector<std::string> child_environment(const RunOptions& options);

/// Runs to completion. A run that outlives `limit` is killed (status -1 and
/// a note on err): a hang fails the test rather than the suite.
RunResult run_elmpad(const RunOptions& options, std::chrono::seconds limit = std::chrono::seconds(60));

/// A running `elmpad` with pipes on its standard streams, for conversations
/// such as an MCP session.
class Child {
 public:
  explicit Child(const RunOptions& options);
  ~Child();  // kills the child if it is still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  /// Writes to the child's standard input.
  void write(const std::string& bytes);
  void close_stdin();
  /// Stops reading the child's standard output: its next write fails.
  void close_stdout();
  /// The next standard-output line without its "\n"; nullopt at end of
  /// output or after `limit`.
  std::optional<std::string> read_line(std::chrono::seconds limit = std::chrono::seconds(30));
  /// Whether the child has exited; it is then reaped, and wait() returns
  /// its status once its output has ended.
  bool ended();
  /// Waits for the exit status; kills after `limit` and returns -1.
  int wait(std::chrono::seconds limit = std::chrono::seconds(30));
  /// Standard error written so far (all of it once wait() returned).
  std::string err();
  /// Standard output not yet returned by read_line (all of it after wait()).
  std::string rest_of_out();
  pid_t pid() const { return pid_; }

 private:
  /// Reads more standard output into out_buf_ (up to a line feed); false at
  /// its end, on a failure or after `deadline`.
  bool read_more(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int in_ = -1, err_ = -1;
  LineReader out_;  // over the non-blocking read end of the output pipe
  std::string out_buf_, note_;
  int status_ = -1;
  bool exited_ = false;
};

}  // namespace elmpad::testing
