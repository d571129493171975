// The record of the one tool call in progress, shared by the main thread
// (which sets and clears it around every tools/call) and the reader thread
// (which cancels it when the client says so).
#pragma once

#include <mutex>
#include <optional>
#include <string_view>

#include "cli/unique_fd.h"
#include "json_text.h"

namespace elmpad::mcp {

struct InFlight {
  json id;               // the JSON-RPC id of the tools/call request
  UniqueFd socket;       // a duplicate of the app connection the call blocks on
  bool cancelled = false;
};

/// The slot holding at most one InFlight. Only short, non-blocking work
/// (dup, shutdown, close) is ever done under its lock.
class InFlightSlot {
 public:
  /// Main thread: a fresh record for `id`, dropping (and closing) any old one.
  void set(json id);
  /// Main thread: empties the slot, closing a stored socket.
  void clear();
  /// Main thread, inside a blocking tool: stores a duplicate of `socket` in
  /// the record, if there is one, replacing an earlier duplicate.
  void register_socket(int socket);
  /// Reader thread: when the record's id equals `id` and it holds a socket,
  /// marks it cancelled and shuts the socket down, which wakes the tool's read.
  bool abort_if_matches(const json& id);
  /// Main thread: whether the record now in the slot was cancelled.
  bool was_cancelled();

 private:
  std::mutex mu_;
  std::optional<InFlight> slot_;  // guarded by mu_
};

/// Process-wide; never destroyed, so the detached reader thread can still
/// reach it while the process exits.
extern InFlightSlot& IN_FLIGHT;

/// Marks a tools/call as in flight for its lifetime.
class InFlightScope {
 public:
  explicit InFlightScope(json id) { IN_FLIGHT.set(std::move(id)); }
  ~InFlightScope() { IN_FLIGHT.clear(); }
  InFlightScope(const InFlightScope&) = delete;
  InFlightScope& operator=(const InFlightScope&) = delete;
};

/// The "requestId" of a notifications/cancelled line, or nothing for any
/// other line. Cheap for lines that cannot be one.
std::optional<json> cancelled_request_id(std::string_view line);

inline bool abort_if_matches(const json& id) { return IN_FLIGHT.abort_if_matches(id); }
inline bool was_cancelled() { return IN_FLIGHT.was_cancelled(); }
inline void register_socket(int socket) { IN_FLIGHT.register_socket(socket); }

/// JSON equality that also requires the same type: 1, 1.0 and "1" all
/// differ. The two integer kinds of the library (unsigned, signed) are one
/// type, compared by value.
bool same_json(const json& a, const json& b);

}  // namespace elmpad::mcp
