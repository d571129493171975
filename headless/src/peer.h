// The writing side of one client connection. Only the connection's own
// thread writes to the socket: answers as it makes them, and the close
// events that other threads (closing a tab this client waits on) queue and
// wake it for. So a client that stops reading holds up its own thread and
// nobody else, and a queue it never drains is bounded: past
// kMaxQueuedEventBytes the client is dropped. Once the connection is gone,
// lines are dropped instead of reaching a reused descriptor.
#pragma once

#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace elmpad::headless {

/// Event bytes a client may leave unread before it is dropped: some 70,000
/// close events, far beyond any client that reads.
inline constexpr std::size_t kMaxQueuedEventBytes = 4u << 20;

class Peer {
 public:
  /// Takes ownership of `fd`; the error is the failing call and the
  /// system's text when no wake-up pipe can be made.
  static std::expected<std::shared_ptr<Peer>, std::string> make(int fd);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Any thread.
  /// Queues an event line for the connection's thread and wakes it, or holds
  /// it while a request is being answered, so a tab closed at once never has
  /// its close event overtake the answer to the open that made it (a client
  /// skips events while it awaits an answer). Never blocks.
  void send_event(std::string_view line);

  // The connection's own thread only.
  int fd() const { return fd_; }
  /// Readable when events are queued; see `flush`.
  int wake_fd() const { return wake_[0]; }
  /// Holds events until `answer`.
  void hold_events();
  /// Writes what is queued, then `line`, then the held events, and stops
  /// holding; false when the connection broke or the client was dropped.
  bool answer(std::string_view line);
  /// Writes what is queued, waiting for a client that is slow to read;
  /// false when the connection broke or the client was dropped.
  bool flush();
  /// Closes the descriptors; later lines are dropped.
  void close();

 private:
  struct Outgoing {
    std::string line;
    bool event = false;
  };
  Peer(int fd, int wake_read, int wake_write) : fd_(fd), wake_{wake_read, wake_write} {}
  /// Stops writing to a client that stopped reading; true when it did so now.
  bool drop_if_overfull_locked();

  int fd_;       // written by the connection's thread under mu_; -1 once closed
  int wake_[2];  // read end polled by the connection's thread, write end poked by senders; closed with fd_
  std::mutex mu_;
  std::deque<Outgoing> queue_;      // guarded by mu_; lines to write, in order
  std::size_t queued_events_ = 0;   // guarded by mu_; event bytes in queue_ and held_
  bool holding_ = false;            // guarded by mu_
  std::vector<Outgoing> held_;      // guarded by mu_
  bool broken_ = false;             // guarded by mu_; a write failed or the client was dropped
};

}  // namespace elmpad::headless
