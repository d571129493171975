// The one way the tool asks the application: reach it (launching it if
// allowed), send a request, read its answer and, for a wait, its event.
// The command line, the MCP tools and the session attachment all ask
// through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "app_client/exchange.h"
#include "connection.h"
#include "deadline.h"
#include "outcome.h"
#include "request.h"
#include "run_err.h"
#include "unique_fd.h"

namespace elmpad {

/// What reaching the application does when nobody answers its socket.
enum class Reach {
  kIfRunning,  // nothing: the caller answers without the application
  kOrLaunch,   // starts it with `open -a` and waits for its socket
};

/// One connection to the application, over which requests go one at a time.
/// It shares nothing with any other: each thread that asks opens its own.
class AppConnection {
 public:
  /// Connects to the application's socket, launching the application first
  /// with kOrLaunch (see connect_or_launch). Nothing when it is not running
  /// and kIfRunning. Fails with "NO_HOME", a launch's failures, or
  /// "SOCKET_ERROR" when the connection cannot be set up.
  static Result<std::optional<AppConnection>> open(Reach reach);
  /// Over a socket already connected to the application.
  static Result<AppConnection> over(UniqueFd socket, bool launched = false);

  /// Whether open() started the application.
  [[nodiscard]] bool launched() const { return launched_; }
  /// The connected socket. Shutting it (or a duplicate of it) down from
  /// another thread cancels the exchange: a blocked send or read then fails.
  [[nodiscard]] int socket() const { return conn_.socket.get(); }

  /// From now on every send and read gives up at `deadline`, failing with
  /// "SOCKET_ERROR": one deadline for the whole exchange, however the
  /// application paces it.
  Result<void> set_deadline(Deadline deadline);

  /// Writes `request` as one line. "PROTO_ERROR" if it cannot be encoded,
  /// "SOCKET_ERROR" if the write fails (a closed peer included).
  Result<void> send(const Request& request);
  /// Reads the answer to request `id` (see read_answer), into `storage`.
  Result<Answer> read_answer(std::uint64_t id, std::string storage = {});
  /// send, then read_answer for the request's id.
  Result<Answer> ask(const Request& request, std::string storage = {});
  /// Reads on, after the answer, until the event about request 1 (see
  /// read_event): how an opened note was left.
  Result<Outcome> read_event();
  /// The next line as it came (see next_line), for an answer read by rules
  /// of its own.
  Result<std::string> read_line(std::size_t limit);

  /// Ends the exchange but not the connection, which lasts while the socket
  /// handed back stays open.
  UniqueFd keep_open() && { return std::move(conn_.socket); }

 private:
  AppConnection(Connection conn, bool launched) : conn_(std::move(conn)), launched_(launched) {}

  Connection conn_;
  bool launched_ = false;
};

}  // namespace elmpad
