#include "cli/open_command.h"

#include "app/exchange.h"
#include "app/launch.h"
#include "cli/output.h"
#include "cli/parent_name.h"
#include "app/path_text.h"
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

// The error value of a refusal as its JSON text, or `fallback` when the
// application gave no reason.
std::string refusal_text(const Answer& answer, const char* fallback) {
  return answer.payload ? compact(*answer.payload) : fallback;
}

int open_folder(const std::string& path, bool json_output) {
  auto app = connect_or_launch_app();
  if (!app) {
    fail(json_output, app.error());
    return 1;
  }
  Connection& conn = app->conn;
  const std::string text = path_text(path);
  if (auto sent = send(conn.socket.get(), Request{.id = 1, .cmd = cmd::OpenFolder{text}}); !sent) {
    fail(json_output, sent.error());
    return 1;
  }
  // The window for the folder is on its way: bring a running app forward now,
  // whatever the answer says.
  if (!app->launched) perform_activation(kAppName);
  auto answer = read_response(conn.reader, 1);
  if (!answer) {
    fail(json_output, answer.error());
    return 1;
  }
  if (!answer->ok) {
    fail(json_output, RunErr{"OPEN_FOLDER_FAILED", refusal_text(*answer, "open folder failed")});
    return 1;
  }
  if (json_output) print_success(json{{"folder", text}});
  return 0;
}

int open_files(const std::vector<std::string>& paths, bool wait, bool json_output,
               const std::optional<std::string>& source) {
  auto app = connect_or_launch_app();
  if (!app) {
    fail(json_output, app.error());
    return 1;
  }
  Connection& conn = app->conn;
  json opened = json::array();
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::uint64_t id = i + 1;
    std::string text = path_text(paths[i]);
    Request request{.id = id, .cmd = cmd::Open{.path = text, .wait = wait, .source = source}};
    if (auto sent = send(conn.socket.get(), request); !sent) {
      fail(json_output, sent.error());
      return 1;
    }
    auto answer = read_response(conn.reader, id);
    if (!answer) {
      fail(json_output, answer.error());
      return 1;
    }
    // Files already opened stay open; the rest are not sent.
    if (!answer->ok) {
      fail(json_output, RunErr{"OPEN_FAILED", refusal_text(*answer, "open failed")});
      return 1;
    }
    opened.push_back(std::move(text));
  }
  if (!app->launched) perform_activation(kAppName);

  if (!wait) {
    if (json_output) print_success(json{{"opened", std::move(opened)}});
    return 0;
  }
  auto outcome = read_event(conn.reader);
  if (!outcome) {
    fail(json_output, outcome.error());
    return 1;
  }
  if (json_output) print_success(json{{"outcome", outcome_text(*outcome)}});
  return *outcome == Outcome::kDiscarded ? 3 : 0;
}

}  // namespace

int open(const std::vector<std::string>& files, bool wait, bool json_output,
         const std::optional<std::string>& source) {
  auto cwd = current_dir();
  if (!cwd) {
    fail(json_output, cwd.error());
    return 1;
  }

  bool folder = false;
  for (const auto& arg : files) {
    if (names_folder(*cwd, arg)) {
      folder = true;
      break;
    }
  }
  if (folder) {
    if (files.size() > 1) {
      print_err("elmpad: a folder must be opened on its own, not alongside files\n");
      return 2;
    }
    if (wait) {
      print_err("elmpad: --wait does not apply to a folder\n");
      return 2;
    }
    const std::string path = absolute_path(*cwd, files.front());
    if (file_kind(path) != FileKind::kDirectory) {
      fail(json_output, RunErr{"DIR_NOT_FOUND", "directory not found: " + files.front()});
      return 1;
    }
    return open_folder(path, json_output);
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
      print_err("elmpad: --wait does not apply to an image (it opens read-only in the viewer)\n");
      return 2;
    }
    if (!source) label = parent_name();
  }
  return open_files(paths, wait, json_output, label);
}

}  // namespace elmpad
