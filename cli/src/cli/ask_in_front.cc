#include "cli/ask_in_front.h"

#include "app_client/launch.h"

namespace elmpad {

Result<AppAnswer> ask_in_front(std::vector<Cmd> commands, BringForward when) {
  // A launch writes its notice to standard error at once, ahead of the result.
  auto opened = AppConnection::open(Reach::kOrLaunch);
  if (!opened) return std::unexpected(std::move(opened).error());
  AppConnection& app = **opened;
  auto bring_forward = [&app] {
    if (!app.launched()) perform_activation(kAppName);
  };
  Answer answer;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const std::uint64_t id = i + 1;
    if (auto sent = app.send(Request{.id = id, .cmd = std::move(commands[i])}); !sent) {
      return std::unexpected(std::move(sent).error());
    }
    if (when == BringForward::kOnceSent && id == commands.size()) bring_forward();
    auto read = app.read_answer(id);
    if (!read) return std::unexpected(std::move(read).error());
    answer = std::move(*read);
    if (!answer.ok) return AppAnswer{std::move(app), std::move(answer)};
  }
  if (when == BringForward::kOnceAccepted) bring_forward();
  return AppAnswer{std::move(app), std::move(answer)};
}

RunErr refusal(const Answer& answer, const char* code, const char* fallback) {
  return RunErr{code, answer.error ? compact(*answer.error) : fallback};
}

}  // namespace elmpad
