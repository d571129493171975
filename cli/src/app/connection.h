// A connection to the application: the socket, written by `send`, and a
// buffered reader over a duplicate of it, read by `next_msg`. Dropping the
// Connection closes both.
#pragma once

#include <expected>
#include <string>
#include <sys/un.h>

#include "app/line_reader.h"
#include "app/run_err.h"
#include "app/unique_fd.h"

namespace elmpad {

struct Connection {
  UniqueFd socket;
  LineReader reader;
};

/// The address of the Unix socket at `path`. Never truncated, since a
/// shortened path could name another socket: too long is ENAMETOOLONG.
SysResult<sockaddr_un> socket_address(const std::string& path);

/// One plain connection attempt to the Unix socket at `path` (close-on-exec).
/// A path too long for a socket address fails like any other attempt.
SysResult<UniqueFd> connect_socket(const std::string& path);

/// Wraps a connected socket with its reader; "SOCKET_ERROR" when the
/// duplicate for reading cannot be made.
Result<Connection> make_connection(UniqueFd socket);

/// The value of $HOME, or "NO_HOME".
Result<std::string> home_dir();

}  // namespace elmpad
