// The writing side of one client connection. Answers come from the
// connection's own thread, close events of waited-on tabs from whichever
// thread closes the tab, so writes take a lock; once the connection is gone,
// writes are dropped instead of reaching a reused descriptor.
#pragma once

#include <mutex>
#include <string_view>

namespace elmpad::headless {

class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  ~Peer() { close(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  /// Writes one whole line; false when the connection is closed or broke.
  bool send_line(std::string_view line);
  /// Closes the descriptor; later sends are dropped.
  void close();

 private:
  std::mutex mu_;
  int fd_;  // guarded by mu_; -1 once closed
};

}  // namespace elmpad::headless
