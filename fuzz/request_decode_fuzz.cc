// The application's request decoder: any line is a request or a refusal that
// says why, and a request re-encodes to a line that decodes to itself.
#include "request_decode.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using elmpad::fuzz::check;
  auto request = elmpad::decode_request(elmpad::fuzz::as_text(data, size));
  if (!request) {
    check(!request.error().message.empty(), "a refusal says why");
    return 0;
  }
  auto line = elmpad::encode_request(*request);
  check(line.has_value(), "a decoded request encodes");
  auto again = elmpad::decode_request(*line);
  check(again.has_value() && elmpad::encode_request(*again) == line, "a request round-trips");
  return 0;
}
