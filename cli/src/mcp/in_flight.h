// The record of the one tool call in progress, shared by the main loop
// (which sets and clears it around the call) and the reader thread (which
// cancels it when the client says so).
#pragma once

#include <mutex>
#include <optional>

#include "mcp/request_id.h"
#include "unique_fd.h"

namespace elmpad::mcp {

struct InFlight {
  RequestId id;          // the JSON-RPC id of the tools/call request
  UniqueFd socket;       // a duplicate of the app connection the call blocks on
  bool cancelled = false;
};

/// The slot holding at most one InFlight. Only short, non-blocking work
/// (dup, shutdown, close) is ever done under its lock.
class InFlightSlot {
 public:
  /// Running a tool: a fresh record for `id`, dropping (and closing) any old one.
  void set(RequestId id);
  /// Running a tool: empties the slot, closing a stored socket.
  void clear();
  /// Running a blocking tool: stores a duplicate of `socket` in the record,
  /// if there is one, replacing an earlier duplicate.
  void register_socket(int socket);
  /// Reading standard input: when the record's id equals `id` and it holds a
  /// socket, marks it cancelled and shuts the socket down, which wakes the
  /// tool's read. Answers whether it did.
  bool abort_if_matches(const RequestId& id);
  /// Running a tool: whether the record now in the slot was cancelled.
  [[nodiscard]] bool was_cancelled();

 private:
  std::mutex mu_;
  std::optional<InFlight> slot_;  // guarded by mu_
};

/// Process-wide; never destroyed, so the detached thread can still reach it
/// while the process exits.
extern InFlightSlot& IN_FLIGHT;

/// Marks a tools/call as in flight for its lifetime.
class InFlightScope {
 public:
  explicit InFlightScope(RequestId id) { IN_FLIGHT.set(std::move(id)); }
  ~InFlightScope() { IN_FLIGHT.clear(); }
  InFlightScope(const InFlightScope&) = delete;
  InFlightScope& operator=(const InFlightScope&) = delete;
};

inline bool abort_if_matches(const RequestId& id) { return IN_FLIGHT.abort_if_matches(id); }
[[nodiscard]] inline bool was_cancelled() { return IN_FLIGHT.was_cancelled(); }
inline void register_socket(int socket) { IN_FLIGHT.register_socket(socket); }

}  // namespace elmpad::mcp
