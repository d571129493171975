// The client's side of the app's answers: every line decodes to a message
// that round-trips, or fails; and the exchange that reads them (skipping
// events and other ids, shaping the answer) ends on any stream.
#include <unistd.h>

#include "app_client/exchange.h"
#include "json_text.h"
#include "raw_json.h"
#include "support.h"
#include "utf8.h"

namespace {

// The scanner that lets the app's answers through unparsed accepts only what
// the parser does, and reads the same value from it.
void check_scanner_agrees(std::string_view line) {
  using elmpad::fuzz::check;
  auto index = elmpad::JsonIndex::scan(line);
  auto parsed = elmpad::parse_json(line);
  if (!parsed) check(!index, "the scanner refuses what the parser refuses");
  if (!index) return;
  check(parsed.has_value(), "the scanner accepts only what the parser accepts");
  std::string printed;
  elmpad::append_compact(*index, line, elmpad::JsonIndex::kRoot, printed, false);
  check(printed == elmpad::compact(*parsed), "the scanner reads the parser's value");
  // Printed as the contents of a JSON string, as a tool result carries it.
  std::string quoted = *elmpad::json_string(printed);
  printed.clear();
  elmpad::append_compact(*index, line, elmpad::JsonIndex::kRoot, printed, true);
  check(printed == quoted.substr(1, quoted.size() - 2), "the scanner escapes what it reads as the library does");
}

void check_round_trip(std::string_view line) {
  using elmpad::fuzz::check;
  check_scanner_agrees(line);
  auto msg = elmpad::decode_server_msg(line);
  if (!msg) {
    check(!msg.error().empty(), "a failure says why");
    return;
  }
  check(line.find('\0') == std::string_view::npos, "no JSON text holds a NUL byte");
  std::string encoded = elmpad::encode_server_msg(*msg);
  auto again = elmpad::decode_server_msg(encoded);
  check(again.has_value() && elmpad::encode_server_msg(*again) == encoded, "a message round-trips");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using elmpad::fuzz::check;
  std::string_view stream = elmpad::fuzz::as_text(data, size);
  for (auto line : elmpad::fuzz::split_lines(stream)) check_round_trip(line);

  elmpad::LineReader reader{elmpad::UniqueFd(elmpad::fuzz::stream_of(stream))};
  auto answer = elmpad::read_answer(reader, 1);
  if (answer) {
    if (!answer->ok && answer->error) {
      const auto& error = *answer->error;
      check(error.is_object() && error.size() == 2 && error["code"].is_string() && error["params"].is_object(),
            "a refusal's error is its code and params");
    }
    check(answer->ok || !answer->data, "a refusal passes no data on");
    auto outcome = elmpad::read_event(reader);
    (void)outcome;
  } else {
    check(elmpad::is_utf8(answer.error().code) && !answer.error().message.empty(), "a failure names itself");
  }
  return 0;
}
