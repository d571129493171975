// The record of the one tool call in progress, shared by the thread running
// the tool (which sets and clears it around the call) and the thread holding
// standard input (which cancels it when the client says so).
#pragma once

#include <mutex>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "json_text.h"
#include "unique_fd.h"

namespace elmpad::mcp {

/// A JSON-RPC id as the client wrote it. The library reads a number into a
/// 64-bit integer or a double, which would round 123456789012345678901234567890
/// and respell 1e2, so a number id keeps its text: the reply echoes it, and
/// cancellation compares its exact value.
struct RequestId {
  RequestId(json id = nullptr) : value(std::move(id)) {}  // an id built in memory
  RequestId(json id, std::optional<std::string> number_text);
  json value;
  std::string number_text;  // the number as written, when `value` is one; else empty

  /// The id as the client wrote it: the library would print a number it
  /// read in its own spelling (rounded beyond 64 bits, 1e2 as 100.0).
  [[nodiscard]] std::string text() const { return number_text.empty() ? compact(value) : number_text; }
};

/// The id `value`, parsed from `line` where `path` leads (member keys from the
/// top), with the text of a number the library may have respelled.
[[nodiscard]] RequestId read_request_id(std::string_view line, json value, std::initializer_list<std::string_view> path);

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
  /// Holding standard input: when the record's id equals `id` and it holds a
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

/// The "requestId" of a notifications/cancelled line, or nothing for any
/// other line. Cheap for lines that cannot be one.
[[nodiscard]] std::optional<RequestId> cancelled_request_id(std::string_view line);

inline bool abort_if_matches(const RequestId& id) { return IN_FLIGHT.abort_if_matches(id); }
[[nodiscard]] inline bool was_cancelled() { return IN_FLIGHT.was_cancelled(); }
inline void register_socket(int socket) { IN_FLIGHT.register_socket(socket); }

/// JSON equality that also requires the same type: 1, 1.0 and "1" all
/// differ. The two integer kinds of the library (unsigned, signed) are one
/// type, compared by value.
[[nodiscard]] bool same_json(const json& a, const json& b);

/// Whether two ids name the same request: by same_json, except that numbers
/// compare by their exact written value (so 1e2 and 100.0 are one float,
/// while 1 and 1.0, or 2^70 and 2^70+1, differ).
[[nodiscard]] bool same_id(const RequestId& a, const RequestId& b);

}  // namespace elmpad::mcp
