// The writing side of one client connection. Answers come from the
// connection's own thread, close events of waited-on tabs from whichever
// thread closes the tab, so writes take a lock; once the connection is gone,
// writes are dropped instead of reaching a reused descriptor.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace elmpad::headless {

class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  ~Peer() { close(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  /// Writes one whole line; false when the connection is closed or broke.
  bool send_line(std::string_view line);

  /// Events wait while a request of this connection is being answered, so a
  /// tab closed at once never has its close event overtake the answer to the
  /// open that made it (a client skips events while it awaits an answer).
  void hold_events();
  /// Writes an event line now, or after the answer when events are held.
  void send_event(std::string_view line);
  /// Writes the held events and stops holding.
  void release_events();
  /// Closes the descriptor; later sends are dropped.
  void close();

 private:
  bool write_locked(std::string_view line);

  std::mutex mu_;
  int fd_;               // guarded by mu_; -1 once closed
  bool holding_ = false;  // guarded by mu_
  std::vector<std::string> held_;  // guarded by mu_
};

}  // namespace elmpad::headless
