#include "app_client/exchange.h"

#include "utf8.h"

namespace elmpad {
Result<void> next_line(LineReader& reader, std::string& line, std::size_t limit) {
  line.clear();
  // The end of the stream may come before a check of the bytes: an empty
  // read is valid UTF-8.
  auto n = reader.read_line(line, limit);
  if (!n) return std::unexpected(RunErr::from_errno("SOCKET_ERROR", n.error()));
  if (*n == 0) return fail_with("CHANNEL_CLOSED", "connection closed by app");
  return {};
}

namespace {

Result<ServerMsg> decode_line(const std::string& line) {
  if (!is_utf8(line)) return fail_with("SOCKET_ERROR", "stream did not contain valid UTF-8");
  auto msg = decode_server_msg(line);
  if (!msg) return fail_with("PROTO_ERROR", msg.error());
  return std::move(*msg);
}

}  // namespace

json as_tree(Payload payload) {
  if (auto* raw = std::get_if<RawJson>(&payload)) return raw->tree();
  return std::move(std::get<json>(payload));
}

Result<Answer> read_answer(LineReader& reader, std::uint64_t id, std::string storage) {
  std::string& line = storage;
  while (true) {
    if (auto read = next_line(reader, line); !read) return std::unexpected(std::move(read).error());
    // The common answer is read without a tree; every other line, and
    // every fault, goes the careful way below.
    if (auto index = JsonIndex::scan(line)) {
      if (auto ok = ok_response(line, *index)) {
        if (ok->id != id) continue;
        if (!ok->data) return Answer{true, std::nullopt, std::nullopt};
        return Answer{true, Payload(RawJson(std::move(line), std::move(*index), *ok->data)), std::nullopt};
      }
    }
    auto msg = decode_line(line);
    if (!msg) return std::unexpected(std::move(msg).error());
    auto* response = std::get_if<Response>(&*msg);
    if (response == nullptr || response->id != id) continue;
    if (response->ok) {
      if (!response->data) return Answer{true, std::nullopt, std::nullopt};
      return Answer{true, Payload(std::move(*response->data)), std::nullopt};
    }
    if (response->error) return Answer{false, std::nullopt, error_body_json(*response->error)};
    return Answer{false, std::nullopt, std::nullopt};
  }
}

Result<Outcome> read_event(LineReader& reader) {
  std::string line;
  while (true) {
    if (auto read = next_line(reader, line); !read) return std::unexpected(std::move(read).error());
    auto msg = decode_line(line);
    if (!msg) return std::unexpected(std::move(msg).error());
    auto* event = std::get_if<Event>(&*msg);
    if (event == nullptr || event->id != 1) continue;
    return event->outcome.value_or(Outcome::kDone);
  }
}

}  // namespace elmpad
