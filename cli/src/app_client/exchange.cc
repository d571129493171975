#include "app_client/exchange.h"

#include "utf8.h"

namespace elmpad {

Result<void> send(int socket, const Request& request) {
  auto line = encode_request(request);
  if (!line) return fail_with("PROTO_ERROR", line.error());
  if (auto written = write_all(socket, *line); !written) {
    return std::unexpected(RunErr::from_errno("SOCKET_ERROR", written.error()));
  }
  return {};
}

namespace {

// One line as it came; the end of the stream before any byte of it is
// "CHANNEL_CLOSED" (an empty read is valid UTF-8, so this may come first).
Result<std::string> next_line(LineReader& reader) {
  std::string line = spare_line();
  auto n = reader.read_line(line);
  if (!n) return std::unexpected(RunErr::from_errno("SOCKET_ERROR", n.error()));
  if (*n == 0) return fail_with("CHANNEL_CLOSED", "connection closed by app");
  return line;
}

Result<ServerMsg> decode_line(const std::string& line) {
  if (!is_utf8(line)) return fail_with("SOCKET_ERROR", "stream did not contain valid UTF-8");
  auto msg = decode_server_msg(line);
  if (!msg) return fail_with("PROTO_ERROR", msg.error());
  return std::move(*msg);
}

}  // namespace

Result<ServerMsg> next_msg(LineReader& reader) {
  auto line = next_line(reader);
  if (!line) return std::unexpected(std::move(line).error());
  return decode_line(*line);
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

Result<PassedAnswer> read_response_passed(LineReader& reader, std::uint64_t id) {
  while (true) {
    auto line = next_line(reader);
    if (!line) return std::unexpected(std::move(line).error());
    // The common answer is read without a tree; every other line, and
    // every fault, goes the careful way below.
    if (auto index = JsonIndex::scan(*line)) {
      if (auto ok = ok_response(*line, *index)) {
        if (ok->id != id) continue;
        if (!ok->data) return PassedAnswer{true, std::nullopt, std::nullopt};
        return PassedAnswer{true, Payload(RawJson(std::move(*line), std::move(*index), *ok->data)), std::nullopt};
      }
    }
    auto msg = decode_line(*line);
    if (!msg) return std::unexpected(std::move(msg).error());
    auto* response = std::get_if<Response>(&*msg);
    if (response == nullptr || response->id != id) continue;
    if (response->ok) {
      if (!response->data) return PassedAnswer{true, std::nullopt, std::nullopt};
      return PassedAnswer{true, Payload(std::move(*response->data)), std::nullopt};
    }
    if (response->error) return PassedAnswer{false, std::nullopt, error_body_json(*response->error)};
    return PassedAnswer{false, std::nullopt, std::nullopt};
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
