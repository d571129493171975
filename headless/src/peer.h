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
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "run_err.h"
#include "unique_fd.h"
#include "wake_pipe.h"

namespace elmpad::headless {

/// Event bytes a client may leave unread before it is dropped: some 70,000
/// close events, far beyond any client that reads.
inline constexpr std::size_t kMaxQueuedEventBytes = 4u << 20;

class Peer {
 public:
  /// Takes the connected socket; fails (closing it) when no wake-up pipe
  /// can be made.
  static Result<std::shared_ptr<Peer>> make(UniqueFd socket);
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
  int fd() const { return socket_.get(); }
  /// Readable when events are queued; see `flush`.
  int wake_fd() const { return wake_.fd(); }
  /// Holds events until `answer`.
  void hold_events();
  /// Writes what is queued, then `line`, then the held events, and stops
  /// holding; false when the connection broke or the client was dropped.
  [[nodiscard]] bool answer(std::string line);
  /// Whether nobody will read an answer any more: the client closed the
  /// connection (or shut it down both ways), or a write to it failed. A
  /// client that only ended its requests (shut down its writing side) still
  /// reads, and has not hung up.
  [[nodiscard]] bool hung_up();
  /// Writes what is queued, waiting for a client that is slow to read;
  /// false when the connection broke or the client was dropped.
  [[nodiscard]] bool flush();
  /// Closes the descriptors; later lines are dropped.
  void close();

 private:
  struct Outgoing {
    std::string line;
    bool event = false;
  };
  Peer(UniqueFd socket, WakePipe wake) : socket_(std::move(socket)), wake_(std::move(wake)) {}
  /// Stops writing to a client that stopped reading; true when it did so now.
  bool drop_if_overfull_locked();
  /// Forgets every line still to be written.
  void discard_locked();

  UniqueFd socket_;  // closed by the connection's thread under mu_, and then empty
  WakePipe wake_;    // polled by the connection's thread, poked by senders under mu_; closed with socket_
  std::mutex mu_;
  std::deque<Outgoing> queue_;      // guarded by mu_; lines to write, in order
  std::size_t queued_events_ = 0;   // guarded by mu_; event bytes in queue_ and held_
  bool holding_ = false;            // guarded by mu_
  std::vector<Outgoing> held_;      // guarded by mu_
  bool broken_ = false;             // guarded by mu_; a write failed or the client was dropped
};

}  // namespace elmpad::headless
