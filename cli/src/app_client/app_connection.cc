#include "app_client/app_connection.h"

#include "app_client/launch.h"

namespace elmpad {

Result<std::optional<AppConnection>> AppConnection::open(Reach reach) {
  UniqueFd socket;
  bool launched = false;
  if (reach == Reach::kOrLaunch) {
    auto reached = connect_or_launch();
    if (!reached) return std::unexpected(std::move(reached).error());
    socket = std::move(reached->socket);
    launched = reached->launched;
  } else {
    auto running = connect_if_running();
    if (!running) return std::unexpected(std::move(running).error());
    if (!*running) return std::optional<AppConnection>();
    socket = std::move(**running);
  }
  auto conn = over(std::move(socket), launched);
  if (!conn) return std::unexpected(std::move(conn).error());
  return std::optional<AppConnection>(std::move(*conn));
}

Result<AppConnection> AppConnection::over(UniqueFd socket, bool launched) {
  auto conn = make_connection(std::move(socket));
  if (!conn) return std::unexpected(std::move(conn).error());
  return AppConnection(std::move(*conn), launched);
}

Result<void> AppConnection::set_deadline(Deadline deadline) {
  // The flag belongs to the open socket, so the reader's duplicate shares it.
  if (auto set = set_nonblocking(socket()); !set) {
    return std::unexpected(RunErr::from_errno("SOCKET_ERROR", set.error()));
  }
  conn_.reader.set_deadline(deadline);
  return {};
}

Result<void> AppConnection::send(const Request& request) {
  auto line = encode_request(request);
  if (!line) return fail_with("PROTO_ERROR", line.error());
  auto deadline = conn_.reader.deadline();
  auto written = deadline ? write_all_before(socket(), *line, *deadline) : write_all(socket(), *line);
  if (!written) return std::unexpected(RunErr::from_errno("SOCKET_ERROR", written.error()));
  return {};
}

Result<Answer> AppConnection::read_answer(std::uint64_t id, std::string storage) {
  return elmpad::read_answer(conn_.reader, id, std::move(storage));
}

Result<Answer> AppConnection::ask(const Request& request, std::string storage) {
  if (auto sent = send(request); !sent) return std::unexpected(std::move(sent).error());
  return read_answer(request.id, std::move(storage));
}

Result<Outcome> AppConnection::read_event() { return elmpad::read_event(conn_.reader); }

Result<std::string> AppConnection::read_line(std::size_t limit) {
  std::string line;
  if (auto read = next_line(conn_.reader, line, limit); !read) return std::unexpected(std::move(read).error());
  return line;
}

}  // namespace elmpad
