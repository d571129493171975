// The record of the one tool call in progress, shared by the main loop
// (which sets and clears it around the call) and the reader thread (which
// cancels it when the client says so), and the cancellations read for calls
// still queued.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "mcp/call_control.h"
#include "mcp/request_id.h"
#include "unique_fd.h"

namespace elmpad::mcp {

struct InFlight {
  RequestId id;          // the JSON-RPC id of the tools/call request
  UniqueFd socket;       // a duplicate of the app connection the call blocks on
  bool cancelled = false;
  /// Its revision gives a cancelled request no reply: a cancellation counts
  /// even before the call has connected, and one read while the call was
  /// queued is kept for it.
  bool early_cancellation = false;
};

/// The slot holding at most one InFlight. Only short, non-blocking work
/// (dup, shutdown, close) is ever done under its lock.
class InFlightSlot {
 public:
  /// How many cancellations for calls not yet running are kept: a client
  /// cannot grow them without bound. The oldest goes first.
  static constexpr std::size_t kMaxKept = 256;

  /// Running a tool: a fresh record for `id`, which was input line number
  /// `line`, dropping (and closing) any old one. With `early_cancellation`,
  /// a cancellation read after that line is taken, and the answer is false:
  /// the call is cancelled before it runs.
  bool set(RequestId id, std::uint64_t line = 0, bool early_cancellation = false);
  /// Running a tool: empties the slot, closing a stored socket.
  void clear();
  /// Running a blocking tool: stores a duplicate of `socket` in the record,
  /// if there is one, replacing an earlier duplicate. False when the call is
  /// already cancelled: it is then not to send its request.
  bool register_socket(int socket);
  /// Reading standard input, at line number `line`: when the record's id
  /// equals `id` and it holds a socket, marks it cancelled and shuts the
  /// socket down, which wakes the tool's read; one with early cancellation is
  /// marked even without a socket. Otherwise the cancellation is kept for a
  /// call still queued. Answers whether it cancelled the call in flight.
  bool abort_if_matches(const RequestId& id, std::uint64_t line = 0);
  /// Running a tool: whether the record now in the slot was cancelled.
  [[nodiscard]] bool was_cancelled();

 private:
  struct Kept {
    RequestId id;
    std::uint64_t line;  // the cancellation's own
  };
  std::mutex mu_;
  std::optional<InFlight> slot_;  // guarded by mu_
  std::deque<Kept> kept_;         // guarded by mu_, in the order read
};

/// Process-wide; never destroyed, so the detached thread can still reach it
/// while the process exits.
extern InFlightSlot& IN_FLIGHT;

/// Marks a tools/call as in flight for its lifetime.
class InFlightScope {
 public:
  InFlightScope(RequestId id, std::uint64_t line = 0, bool early_cancellation = false)
      : cancelled_(!IN_FLIGHT.set(std::move(id), line, early_cancellation)) {}
  ~InFlightScope() { IN_FLIGHT.clear(); }
  InFlightScope(const InFlightScope&) = delete;
  InFlightScope& operator=(const InFlightScope&) = delete;
  /// Cancelled while it was queued.
  [[nodiscard]] bool cancelled_before_start() const { return cancelled_; }

 private:
  bool cancelled_;
};

/// The call in IN_FLIGHT, as a blocking tool sees it.
class InFlightControl : public CallControl {
 public:
  bool offer(int socket) override { return IN_FLIGHT.register_socket(socket); }
  bool cancelled() override { return IN_FLIGHT.was_cancelled(); }
};

inline bool abort_if_matches(const RequestId& id, std::uint64_t line = 0) {
  return IN_FLIGHT.abort_if_matches(id, line);
}
[[nodiscard]] inline bool was_cancelled() { return IN_FLIGHT.was_cancelled(); }
inline bool register_socket(int socket) { return IN_FLIGHT.register_socket(socket); }

}  // namespace elmpad::mcp
