#include "cli/open_command.h"

#include <algorithm>

#include "app_client/path_text.h"
#include "cli/ask_in_front.h"
#include "cli/parent_name.h"
#include "opens_as.h"
#include "utf8.h"

namespace elmpad {
namespace {

// A folder is an existing directory, or a path that does not exist yet but
// was typed as one: only then can a missing folder be told from a new file.
bool names_folder(const std::string& cwd, const std::string& arg) {
  switch (file_kind(absolute_path(cwd, arg))) {
    case FileKind::kDirectory:
      return true;
    case FileKind::kMissing:
      return arg.ends_with('/');
    case FileKind::kOther:
      return false;
  }
  return false;
}

CommandResult open_folder(const std::string& path) {
  const std::string text = path_text(path);
  // The window for the folder is on its way: bring a running app forward now,
  // whatever the answer says.
  auto asked = ask_in_front({cmd::OpenFolder{text}}, BringForward::kOnceSent);
  if (!asked) return failed(std::move(asked).error());
  if (!asked->answer.ok) return failed(refusal(asked->answer, "OPEN_FOLDER_FAILED", "open folder failed"));
  return Done{.data = json{{"folder", text}}};
}

CommandResult open_files(const std::vector<std::string>& paths, bool wait, const std::optional<std::string>& source) {
  std::vector<Cmd> commands;
  json opened = json::array();
  for (const auto& path : paths) {
    std::string text = path_text(path);
    commands.push_back(cmd::Open{.path = text, .wait = wait, .source = source});
    opened.push_back(std::move(text));
  }
  // Files already opened stay open; the rest are not sent.
  auto asked = ask_in_front(std::move(commands), BringForward::kOnceAccepted);
  if (!asked) return failed(std::move(asked).error());
  if (!asked->answer.ok) return failed(refusal(asked->answer, "OPEN_FAILED", "open failed"));
  if (!wait) return Done{.data = json{{"opened", std::move(opened)}}};

  auto outcome = asked->conn.read_event();
  if (!outcome) return failed(std::move(outcome).error());
  return Done{.data = json{{"outcome", outcome_text(*outcome)}},
              .status = *outcome == Outcome::kDiscarded ? kExitDiscarded : 0};
}

}  // namespace

CommandResult open_paths(const std::vector<std::string>& files, bool wait, const std::optional<std::string>& source) {
  auto cwd = current_dir();
  if (!cwd) return failed(std::move(cwd).error());

  if (std::ranges::any_of(files, [&](const std::string& arg) { return names_folder(*cwd, arg); })) {
    if (files.size() > 1) return misuse("a folder must be opened on its own, not alongside files");
    if (wait) return misuse("--wait does not apply to a folder");
    const std::string path = absolute_path(*cwd, files.front());
    if (file_kind(path) != FileKind::kDirectory) {
      return failed(RunErr{"DIR_NOT_FOUND", "directory not found: " + files.front()});
    }
    return open_folder(path);
  }

  std::vector<std::string> paths;
  paths.reserve(files.size());
  for (const auto& arg : files) paths.push_back(absolute_path(*cwd, arg));

  // A label travels as text; one typed with bytes that are not UTF-8 is
  // converted like a path rather than refused.
  std::optional<std::string> label;
  if (source) label = utf8_lossy(*source);
  if (wait) {
    if (opens_as(paths.front()) == OpensAs::kImage) {
      return misuse("--wait does not apply to an image (it opens read-only in the viewer)");
    }
    if (!source) label = parent_name();
  }
  return open_files(paths, wait, label);
}

}  // namespace elmpad
