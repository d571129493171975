// Runs the built elmwrite-headless under a test HOME, with its standard
// input and output in the test's hands (the user's side), and talks to its
// socket as a client would.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "run_elmpad.h"
#include "temp_home.h"

namespace elmpad::testing {

class HeadlessApp {
 public:
  /// Starts the app and waits until it serves its socket.
  explicit HeadlessApp(const TempHome& home);
  /// Types one line on the app's standard input.
  void user(const std::string& line);
  /// The next line the app shows; nullopt after `limit`.
  std::optional<std::string> next_output(std::chrono::seconds limit = std::chrono::seconds(30));
  /// Reads shown lines until one equals `line`; false after `limit`.
  bool wait_for_output(const std::string& line, std::chrono::seconds limit = std::chrono::seconds(30));
  Child& child() { return *child_; }

 private:
  std::unique_ptr<Child> child_;
};

/// One client connection to the app's socket.
class AppClient {
 public:
  explicit AppClient(const std::string& socket_path);
  ~AppClient();
  AppClient(const AppClient&) = delete;
  AppClient& operator=(const AppClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  void send(const std::string& line);  // adds "\n"
  /// The next line from the app without its "\n"; nullopt at end or after `limit`.
  std::optional<std::string> read_line(std::chrono::seconds limit = std::chrono::seconds(30));
  /// Waits until the app has sent something; false at end or after `limit`.
  bool wait_readable(std::chrono::seconds limit = std::chrono::seconds(30));
  /// send + read_line.
  std::string ask(const std::string& line);
  void close();

 private:
  int fd_ = -1;
  std::string buf_;
};

}  // namespace elmpad::testing
