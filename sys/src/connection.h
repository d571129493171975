// A connection over a socket: the socket, written whole, and a buffered
// reader over a duplicate of it, so reading and writing never share a
// handle. Dropping the Connection closes both.
#pragma once

#include "line_reader.h"
#include "run_err.h"
#include "unique_fd.h"

namespace elmpad {

struct Connection {
  UniqueFd socket;
  LineReader reader;
};

/// Wraps a connected socket with its reader; "SOCKET_ERROR" when the
/// duplicate for reading cannot be made.
Result<Connection> make_connection(UniqueFd socket);

}  // namespace elmpad
