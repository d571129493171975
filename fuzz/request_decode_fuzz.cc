// The headless app's side of a request: the client's bytes, arriving in
// pieces of any size, split into the lines of the whole stream, and each line
// decoded to a request or a refusal that says why. A request re-encodes to a
// line that decodes to itself.
#include "line_buffer.h"
#include "request_decode.h"
#include "support.h"

namespace {

using elmpad::fuzz::check;

void check_line(std::string_view line) {
  auto request = elmpad::decode_request(line);
  if (!request) {
    check(!request.error().message.empty(), "a refusal says why");
    return;
  }
  check(line.find('\0') == std::string_view::npos, "no JSON text holds a NUL byte");
  auto encoded = elmpad::encode_request(*request);
  check(encoded.has_value(), "a decoded request encodes");
  auto again = elmpad::decode_request(*encoded);
  check(again.has_value() && elmpad::encode_request(*again) == encoded, "a request round-trips");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view stream = elmpad::fuzz::as_text(data, size);
  const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 16;
  elmpad::headless::LineBuffer buffer;
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    buffer.append(stream.substr(at, piece));
    while (auto line = buffer.next()) lines.emplace_back(*line);
  }
  if (auto last = buffer.rest()) lines.emplace_back(*last);

  std::vector<std::string> whole;
  for (auto line : elmpad::fuzz::split_lines(stream)) whole.emplace_back(line.substr(0, line.find('\n')));
  check(lines == whole, "the lines are those of the whole stream, however it arrives");
  for (const auto& line : lines) check_line(line);
  return 0;
}
