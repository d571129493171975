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
  auto answer = elmpad::read_response(reader, 1);
  if (answer) {
    if (!answer->ok && answer->payload) {
      const auto& payload = *answer->payload;
      check(payload.is_object() && payload.size() == 2 && payload["code"].is_string() && payload["params"].is_object(),
            "a refusal's payload is its code and params");
    }
    auto outcome = elmpad::read_event(reader);
    (void)outcome;
  } else {
    check(elmpad::is_utf8(answer.error().code) && !answer.error().message.empty(), "a failure names itself");
  }

  // Passed on as checked text, the answer is the one parsed.
  elmpad::LineReader again{elmpad::UniqueFd(elmpad::fuzz::stream_of(stream))};
  auto passed = elmpad::read_response_passed(again, 1);
  check(passed.has_value() == answer.has_value(), "passed on or parsed, an answer is an answer");
  if (!answer) {
    check(passed.error() == answer.error(), "passed on or parsed, a failure is the same failure");
  } else if (answer->ok) {
    std::string printed;
    if (passed->data) {
      if (const auto* tree = std::get_if<elmpad::json>(&*passed->data)) printed = elmpad::compact(*tree);
      else std::get<elmpad::RawJson>(*passed->data).append_compact(printed, false);
    }
    check(passed->ok && !passed->error && passed->data.has_value() == answer->payload.has_value() &&
              (!answer->payload || printed == elmpad::compact(*answer->payload)),
          "passed on, an answer's data is the parsed data");
  } else {
    check(!passed->ok && !passed->data && passed->error == answer->payload, "passed on, a refusal is the parsed one");
  }
  return 0;
}
