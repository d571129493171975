// The built elmwrite-headless under a test HOME: the test types on its
// standard input, reads what it shows, and talks to its socket as a client.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli/connection.h"
#include "run_elmpad.h"
#include "temp_home.h"

namespace elmpad::testing {

class HeadlessApp {
 public:
  /// Starts the app and waits until it serves its socket.
  explicit HeadlessApp(const TempHome& home);
  void user(const std::string& line) { child_->write(line + "\n"); }
  std::optional<std::string> next_output() { return child_->read_line(); }
  /// Reads shown lines until one equals `line`; false at the end of output.
  bool wait_for_output(const std::string& line);
  Child& child() { return *child_; }

 private:
  std::unique_ptr<Child> child_;
};

/// One client connection to the app's socket. A read waits at most 30 s: a
/// hang fails the test rather than the suite.
class AppClient {
 public:
  explicit AppClient(const std::string& socket_path);
  int fd() const { return conn_.socket.get(); }
  void send(const std::string& line);  // adds "\n"
  /// The next line without its "\n"; nullopt at the end of the connection.
  std::optional<std::string> read_line();
  std::string ask(const std::string& line);

 private:
  Connection conn_;
};

}  // namespace elmpad::testing
