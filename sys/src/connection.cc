#include "connection.h"

namespace elmpad {

Result<Connection> make_connection(UniqueFd socket) {
  auto copy = dup_cloexec(socket.get());
  if (!copy) return std::unexpected(RunErr::from_errno("SOCKET_ERROR", copy.error()));
  return Connection{std::move(socket), LineReader(std::move(*copy))};
}

}  // namespace elmpad
