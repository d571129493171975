// Unix-domain stream sockets: the address of a path, and one connection
// attempt to it.
#pragma once

#include <string>
#include <sys/un.h>

#include "run_err.h"
#include "unique_fd.h"

namespace elmpad {

/// The address of the Unix socket at `path`. Never truncated, since a
/// shortened path could name another socket: too long is ENAMETOOLONG.
SysResult<sockaddr_un> socket_address(const std::string& path);

/// One plain connection attempt to the Unix socket at `path` (close-on-exec).
/// A path too long for a socket address fails like any other attempt.
SysResult<UniqueFd> connect_socket(const std::string& path);

}  // namespace elmpad
