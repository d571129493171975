#include "cli/exchange.h"

#include "utf8.h"

namespace elmpad {

Result<void> send(int socket, const Request& request) {
  auto line = encode_request(request);
  if (!line) return fail_with("PROTO_ERROR", line.error());
  if (int err = write_all(socket, *line); err != 0) {
    return std::unexpected(RunErr::from_errno("SOCKET_ERROR", err));
  }
  return {};
}

Result<ServerMsg> next_msg(LineReader& reader) {
  std::string line;
  auto n = reader.read_line(line);
  if (!n) return std::unexpected(RunErr::from_errno("SOCKET_ERROR", n.error()));
  if (!is_utf8(line)) return fail_with("SOCKET_ERROR", "stream did not contain valid UTF-8");
  if (*n == 0) return fail_with("CHANNEL_CLOSED", "connection closed by app");
  auto msg = decode_server_msg(line);
  if (!msg) return fail_with("PROTO_ERROR", msg.error());
  return std::move(*msg);
}

Result<Answer> read_response(LineReader& reader, std::uint64_t id) {
  while (true) {
    auto msg = next_msg(reader);
    if (!msg) return std::unexpected(std::move(msg).error());
    auto* response = std::get_if<Response>(&*msg);
    if (response == nullptr || response->id != id) continue;
    if (response->ok) return Answer{true, std::move(response->data)};
    if (response->error) return Answer{false, error_body_json(*response->error)};
    return Answer{false, std::nullopt};
  }
}

Result<Outcome> read_event(LineReader& reader) {
  while (true) {
    auto msg = next_msg(reader);
    if (!msg) return std::unexpected(std::move(msg).error());
    auto* event = std::get_if<Event>(&*msg);
    if (event == nullptr || event->id != 1) continue;
    return event->outcome.value_or(Outcome::kDone);
  }
}

}  // namespace elmpad
