// The built elmwrite-headless under a test HOME: the test types on its
// standard input, reads what it shows, and talks to its socket as a client.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>

#include "connection.h"
#include "run_elmpad.h"
#include "temp_home.h"
#include "unix_socket.h"

namespace elmpad::testing {

class HeadlessApp {
 public:
  /// Starts the app and waits until it serves its socket.
  explicit HeadlessApp(const TempHome& home)
      : child_(std::make_unique<Child>(RunOptions{.home = home.path(), .program = HEADLESS_BIN})) {
    auto first = child_->read_line();
    if (!first || !first->starts_with("elmwrite-headless: serving ")) {
      throw std::runtime_error("app did not start: " + first.value_or("") + child_->err());
    }
    child_->read_line();  // the help hint
  }
  void user(const std::string& line) { child_->write(line + "\n"); }
  /// Reads shown lines until one equals `line`; false at the end of output.
  bool wait_for_output(const std::string& line) {
    while (auto got = child_->read_line()) {
      if (*got == line) return true;
    }
    return false;
  }
  Child& child() { return *child_; }

 private:
  std::unique_ptr<Child> child_;
};

/// One client connection to the app's socket. A read waits at most 30 s: a
/// hang fails the test rather than the suite.
class AppClient {
 public:
  explicit AppClient(const std::string& socket_path) {
    auto socket = connect_socket(socket_path);
    if (!socket) throw std::runtime_error("cannot connect to " + socket_path);
    auto made = make_connection(std::move(*socket));
    if (!made) throw std::runtime_error("cannot read from " + socket_path);
    conn_ = std::move(*made);
    timeval guard{30, 0};
    ::setsockopt(fd(), SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
  }
  int fd() const { return conn_.socket.get(); }
  void send(const std::string& bytes) { (void)write_all(fd(), bytes); }
  /// The next line without its "\n"; nullopt at the end of the connection.
  std::optional<std::string> read_line() {
    std::string line;
    auto got = conn_.reader.read_line(line);
    if (!got || *got == 0) return std::nullopt;
    if (line.ends_with('\n')) line.pop_back();
    return line;
  }
  std::string ask(const std::string& line) {
    send(line + "\n");
    return read_line().value_or("<no answer>");
  }

 private:
  Connection conn_;
};

}  // namespace elmpad::testing
