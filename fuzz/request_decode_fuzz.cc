// The application's request decoder: any line is a request or a refusal that
// says why, and a request re-encodes to a line that decodes to itself.
#include "request_decode.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using elmpad::fuzz::check;
  std::string_view text = elmpad::fuzz::as_text(data, size);
  auto request = elmpad::decode_request(text);
  if (!request) {
    check(!request.error().message.empty(), "a refusal says why");
    return 0;
  }
  check(text.find('\0') == std::string_view::npos, "no JSON text holds a NUL byte");
  auto line = elmpad::encode_request(*request);
  check(line.has_value(), "a decoded request encodes");
  auto again = elmpad::decode_request(*line);
  check(again.has_value() && elmpad::encode_request(*again) == line, "a request round-trips");
  return 0;
}
