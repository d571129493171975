#include "cli/reveal_command.h"

#include "app_client/path_text.h"
#include "cli/ask_in_front.h"
#include "utf8.h"

namespace elmpad {
namespace {

bool is_heading_not_found(const Answer& answer) {
  if (!answer.error || !answer.error->is_object()) return false;
  auto code = answer.error->find("code");
  return code != answer.error->end() && code->is_string() &&
         code->get_ref<const std::string&>() == "HEADING_NOT_FOUND";
}

}  // namespace

CommandResult reveal_heading(const std::string& file, const std::optional<std::string>& heading) {
  auto cwd = current_dir();
  if (!cwd) return failed(std::move(cwd).error());
  const std::string path = absolute_path(*cwd, file);
  if (file_kind(path) == FileKind::kDirectory) return misuse("'" + file + "' is a directory");

  const std::string text = path_text(path);
  // The heading is passed through for the app to match; one typed with bytes
  // that are not UTF-8 is converted like a path rather than refused.
  std::optional<std::string> heading_text;
  if (heading) heading_text = utf8_lossy(*heading);
  // Even a heading that is not found leaves the file open: bring a running
  // app forward before the answer.
  auto asked = ask_in_front({cmd::Reveal{text, heading_text}}, BringForward::kOnceSent);
  if (!asked) return failed(std::move(asked).error());
  const Answer& answer = asked->answer;
  if (answer.ok) return Done{.data = json{{"revealed", text}}};
  if (is_heading_not_found(answer)) {
    return failed(RunErr{"HEADING_NOT_FOUND",
                         "heading not found: '" + heading.value_or("") + "' (file opened, viewport unchanged)"});
  }
  return failed(refusal(answer, "REVEAL_FAILED", "reveal failed"));
}

}  // namespace elmpad
