#include "app.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app_log.h"
#include "atomic_write.h"
#include "change_wait.h"
#include "markdown_sections.h"
#include "opens_as.h"
#include "unique_fd.h"

namespace elmpad::headless {
namespace {

using Params = std::map<std::string, std::string>;

Response ok(std::uint64_t id, std::optional<json> data = std::nullopt) { return Response{id, true, std::move(data), std::nullopt}; }

Response refusal(std::uint64_t id, ErrorBody body) { return Response{id, false, std::nullopt, std::move(body)}; }

Response refuse(std::uint64_t id, std::string code, Params params) {
  return refusal(id, ErrorBody{std::move(code), std::move(params)});
}

enum class Kind { kMissing, kFile, kDirectory, kOther };

Kind kind_of(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Kind::kMissing;
  if (S_ISDIR(st.st_mode)) return Kind::kDirectory;
  return S_ISREG(st.st_mode) ? Kind::kFile : Kind::kOther;
}

std::string real_or_same(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// What a note's read will hold, before it is read: its size, as far as can
// be told.
std::size_t note_size(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
}

json or_null(const std::optional<std::string>& s) { return s ? json(*s) : json(nullptr); }

// A note that must already exist: the refusal when it does not.
std::optional<ErrorBody> existing_note(const std::string& path) {
  switch (kind_of(path)) {
    case Kind::kFile:
      return std::nullopt;
    case Kind::kMissing:
      return ErrorBody{"NOT_FOUND", {{"path", path}, {"detail", "no such file"}}};
    case Kind::kDirectory:
      return ErrorBody{"IS_A_DIRECTORY", {{"path", path}, {"detail", "a folder is not a note"}}};
    default:
      return ErrorBody{"NOT_FOUND", {{"path", path}, {"detail", "not a regular file"}}};
  }
}

// A folder that must already exist: the refusal when it does not.
std::optional<ErrorBody> existing_folder(const std::string& path) {
  if (kind_of(path) == Kind::kDirectory) return std::nullopt;
  return ErrorBody{"NOT_A_DIRECTORY", {{"path", path}, {"detail", "not an existing folder"}}};
}

// A note that could not be read or written: the failure's code, the note and
// the failing call.
Response file_refusal(std::uint64_t id, const std::string& path, const RunErr& err) {
  return refuse(id, err.code, {{"path", path}, {"detail", err.message}});
}

std::string today() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

}  // namespace

std::vector<std::string> available_commands() {
  return {"tab.close", "tab.discard", "tab.next", "tab.previous", "file.openTodayNote"};
}

std::optional<Response> App::handle(const Request& request, ClientConnection& conn) {
  const std::uint64_t id = request.id;
  return std::visit(
      [&](const auto& c) -> std::optional<Response> {
        using C = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<C, cmd::Open>) return open(id, c, conn);
        else if constexpr (std::is_same_v<C, cmd::OpenFolder>) return open_folder(id, c);
        else if constexpr (std::is_same_v<C, cmd::Reveal>) return reveal(id, c);
        else if constexpr (std::is_same_v<C, cmd::Status>) return status(id);
        else if constexpr (std::is_same_v<C, cmd::GetContext>) return get_context(id);
        else if constexpr (std::is_same_v<C, cmd::ExecuteCommand>) return execute_command(id, c);
        else if constexpr (std::is_same_v<C, cmd::ReadSection>) return read_section(id, c, conn);
        else if constexpr (std::is_same_v<C, cmd::WriteSection>) return write_section(id, c);
        else if constexpr (std::is_same_v<C, cmd::WaitForChange>) return wait_for_change(request, c, conn);
        else if constexpr (std::is_same_v<C, cmd::PostMessage>) return post_message(request, c);
        else return attach_session(id, c, conn);
      },
      request.cmd);
}

void App::connection_closed(ClientConnection& conn) {
  for (auto s : conn.sessions) {
    sidebar_.detach(s);
    print_line("[sidebar] agent session " + std::to_string(s) + " ended");
  }
  conn.sessions.clear();
}

std::optional<ErrorBody> App::open_path(const std::string& path, std::optional<TabWaiter> waiter,
                                        const std::optional<std::string>& source) {
  Kind kind = kind_of(path);
  if (kind == Kind::kDirectory) {
    return ErrorBody{"IS_A_DIRECTORY", {{"path", path}, {"detail", "use open_folder for a folder"}}};
  }
  if (opens_as(path) == OpensAs::kImage) {
    if (kind == Kind::kMissing) return ErrorBody{"NOT_FOUND", {{"path", path}, {"detail", "no such image"}}};
    if (waiter) {
      return ErrorBody{"NOT_EDITABLE",
                       {{"path", path}, {"detail", "an image opens read-only in the viewer; there is no tab to wait for"}}};
    }
    workspace_.show_image(path);
    print_line("viewer: " + path);
    return std::nullopt;
  }
  if (kind == Kind::kMissing) {
    UniqueFd created(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
    if (!created && errno != EEXIST) {
      return ErrorBody{"CREATE_FAILED", {{"path", path}, {"detail", std::strerror(errno)}}};
    }
    print_line("created " + path);
  }
  // What a write killed with an earlier app left beside the note goes now.
  remove_stale_temporaries(path);
  bool waiting = waiter.has_value();
  // Clients send paths as typed ("/w/./a.md"); a tab shows where the file is.
  const std::string tab = real_or_same(path);
  workspace_.open_tab(tab, std::move(waiter), source);
  print_line("tab: " + tab + (waiting ? " (waiting" + (source ? " for " + *source : std::string()) + ")" : ""));
  return std::nullopt;
}

Response App::open(std::uint64_t id, const cmd::Open& c, ClientConnection& conn) {
  std::optional<TabWaiter> waiter;
  if (c.wait) waiter = TabWaiter{conn.peer, id};
  if (auto err = open_path(c.path, std::move(waiter), c.source)) return refusal(id, std::move(*err));
  return ok(id, json{{"path", c.path}});
}

Response App::open_folder(std::uint64_t id, const cmd::OpenFolder& c) {
  if (auto err = existing_folder(c.path)) return refusal(id, std::move(*err));
  const std::string folder = real_or_same(c.path);
  workspace_.set_folder(folder);
  print_line("folder: " + folder);
  return ok(id, json{{"folder", c.path}});
}

Response App::reveal(std::uint64_t id, const cmd::Reveal& c) {
  if (auto err = open_path(c.path, std::nullopt, std::nullopt)) return refusal(id, std::move(*err));
  if (!c.heading) return ok(id, json{{"path", c.path}, {"heading", nullptr}});
  auto share = reads_.take(note_size(c.path));
  auto text = read_file(c.path);
  if (!text) return file_refusal(id, c.path, text.error());
  Document doc = parse_document(*text);
  auto found = resolve(doc, *c.heading);
  if (found.empty()) {
    return refuse(id, "HEADING_NOT_FOUND",
                  {{"path", c.path}, {"heading", *c.heading}, {"detail", "the file is open; the view is unchanged"}});
  }
  // Several matches scroll to the first.
  const std::string& anchor = doc.sections[found.front()].anchor;
  // The tab is named by where the file is, not by the path as typed.
  workspace_.scroll_to(real_or_same(c.path), anchor);
  print_line("view: " + c.path + " at " + anchor);
  return ok(id, json{{"path", c.path}, {"heading", anchor}});
}

Response App::status(std::uint64_t id) {
  WorkspaceView v = workspace_.view();
  json data{{"running", true}, {"tabs", v.tabs}};
  if (v.folder) data["folder"] = *v.folder;
  if (v.active) data["active"] = *v.active;
  return ok(id, std::move(data));
}

Response App::get_context(std::uint64_t id) {
  WorkspaceView v = workspace_.view();
  return ok(id, json{{"folder", or_null(v.folder)},
                     {"tabs", v.tabs},
                     {"active", or_null(v.active)},
                     {"selection", nullptr},
                     {"visibleHeading", or_null(v.visible_heading)},
                     {"viewer", or_null(v.viewer)},
                     {"availableCommands", available_commands()},
                     {"degraded", false}});
}

Response App::execute_command(std::uint64_t id, const cmd::ExecuteCommand& c) {
  const std::string& name = c.command;
  auto done = [&] { return ok(id, json{{"command", name}, {"ran", true}}); };
  if (name == "tab.close" || name == "tab.discard") {
    auto active = workspace_.view().active;
    if (!active) return refuse(id, "NO_ACTIVE_TAB", {{"command", name}, {"detail", "no tab is open"}});
    auto closed = close_tab(*active, name == "tab.close" ? Outcome::kDone : Outcome::kDiscarded);
    if (!closed) return refuse(id, "NO_ACTIVE_TAB", {{"command", name}, {"detail", closed.error().message}});
    return done();
  }
  if (name == "tab.next" || name == "tab.previous") {
    if (!workspace_.cycle(name == "tab.next" ? 1 : -1)) {
      return refuse(id, "NO_ACTIVE_TAB", {{"command", name}, {"detail", "no tab is open"}});
    }
    return done();
  }
  if (name == "file.openTodayNote") {
    auto folder = workspace_.view().folder;
    if (!folder) return refuse(id, "NO_FOLDER", {{"command", name}, {"detail", "open a folder first"}});
    std::string path = *folder + (folder->ends_with("/") ? "" : "/") + today() + ".md";
    if (auto err = open_path(path, std::nullopt, std::nullopt)) return refusal(id, std::move(*err));
    return done();
  }
  std::string known;
  for (const auto& k : available_commands()) known += (known.empty() ? "" : ", ") + k;
  return refuse(id, "UNKNOWN_COMMAND", {{"command", name}, {"detail", "known commands: " + known}});
}

std::optional<Response> App::read_section(std::uint64_t id, const cmd::ReadSection& c, ClientConnection& conn) {
  if (auto err = existing_note(c.path)) return refusal(id, std::move(*err));
  auto share = reads_.take(note_size(c.path));
  // A client that hung up (or was cancelled) while its turn came reads no
  // answer: the read would only cost memory and time others wait for.
  if (conn.peer->hung_up()) {
    print_line("not reading " + c.path + ": its client hung up");
    return std::nullopt;
  }
  auto text = read_file(c.path);
  if (!text) return file_refusal(id, c.path, text.error());
  auto data = headless::read_section(*text, c.heading);
  if (!data) return refuse(id, data.error().code, data.error().params);
  (*data)["path"] = c.path;
  return ok(id, std::move(*data));
}

Response App::write_section(std::uint64_t id, const cmd::WriteSection& c) {
  std::lock_guard lock(documents_mu_);
  if (auto err = existing_note(c.path)) return refusal(id, std::move(*err));
  if (is_read_only(c.path)) {
    return refuse(id, "READ_ONLY", {{"path", c.path}, {"detail", "the note is read-only: its permissions do not allow writing"}});
  }
  auto text = read_file(c.path);
  if (!text) return file_refusal(id, c.path, text.error());
  auto result = headless::write_section(*text, {c.heading, c.operation, c.content, c.base_hash});
  if (!result) return refuse(id, result.error().code, result.error().params);
  if (auto written = write_file_atomically(c.path, result->text); !written) {
    return file_refusal(id, c.path, written.error());
  }
  print_line("edited " + c.path + " (" + c.operation + (c.heading ? " " + *c.heading : std::string()) + ")");
  result->data["path"] = c.path;
  return ok(id, std::move(result->data));
}

std::optional<Response> App::wait_for_change(const Request& request, const cmd::WaitForChange& c,
                                             ClientConnection& conn) {
  const std::uint64_t id = request.id;
  if (!c.path && !c.workspace) {
    return refuse(id, "BAD_REQUEST", {{"detail", "wait_for_change needs a path, a workspace or both"}});
  }
  ChangeWait wait;
  if (c.path) {
    if (auto err = existing_note(*c.path)) return refusal(id, std::move(*err));
    wait.path = *c.path;
  }
  if (c.workspace) {
    if (auto err = existing_folder(*c.workspace)) return refusal(id, std::move(*err));
    wait.report_source = true;
    // Only agents on the intercom (an attached session) receive messages.
    if (request.session && sidebar_.session(*request.session)) wait.workspace = workspace_key(*c.workspace);
  }
  wait.timeout = wait_timeout(c.timeout_secs);
  auto report = headless::wait_for_change(wait, sidebar_, conn.peer->fd());
  if (!report) return std::nullopt;
  return ok(id, std::move(*report));
}

Response App::post_message(const Request& request, const cmd::PostMessage& c) {
  std::optional<AgentSession> session;
  if (request.session) session = sidebar_.session(*request.session);
  if (!session) {
    return refuse(request.id, "NOT_ON_INTERCOM",
                  {{"detail", "only an attached agent session can post to the sidebar"}});
  }
  print_line("[sidebar] agent " + std::to_string(*request.session) + ": " + c.text);
  return ok(request.id);
}

Response App::attach_session(std::uint64_t id, const cmd::AttachSession& c, ClientConnection& conn) {
  std::uint64_t session = sidebar_.attach({c.cwd, c.token});
  conn.sessions.push_back(session);
  print_line("[sidebar] agent session " + std::to_string(session) + " attached (" + c.cwd + ")");
  return ok(id, json{{"session", session}});
}

std::optional<std::string> App::find_tab(const std::string& path) const {
  auto tabs = workspace_.view().tabs;
  for (const auto& t : tabs) {
    if (t == path) return t;
  }
  std::string real = real_or_same(path);
  for (const auto& t : tabs) {
    if (real_or_same(t) == real) return t;
  }
  return std::nullopt;
}

Result<void> App::close_tab(const std::string& path, Outcome outcome) {
  auto tab = find_tab(path);
  // Closed by someone else since it was found: just as absent.
  auto waiters = tab ? workspace_.close_tab(*tab) : std::nullopt;
  if (!waiters) return fail_with("NO_SUCH_TAB", "no tab is open for " + path);
  for (const auto& w : *waiters) {
    w.peer->send_event(encode_server_msg(Event{w.id, "closed", outcome}));
  }
  print_line("closed " + *tab + " (" + std::string(outcome_text(outcome)) + ")");
  return {};
}

Result<void> App::say(const std::string& workspace, const std::string& text) {
  if (kind_of(workspace) != Kind::kDirectory) return fail_with("NOT_A_DIRECTORY", "not a folder: " + workspace);
  WorkspaceView v = workspace_.view();
  json context{{"file", or_null(v.active)}, {"heading", or_null(v.visible_heading)}, {"selection", nullptr}};
  sidebar_.say(workspace_key(workspace), {text, std::move(context)});
  print_line("[sidebar] you -> " + workspace + ": " + text);
  return {};
}

std::vector<std::string> App::describe_tabs() const {
  WorkspaceView v = workspace_.view();
  std::vector<std::string> out;
  if (v.folder) out.push_back("folder: " + *v.folder);
  if (v.tabs.empty()) out.push_back("no tabs");
  for (const auto& t : v.tabs) out.push_back((v.active && *v.active == t ? "* " : "  ") + t);
  if (v.viewer) out.push_back("viewer: " + *v.viewer);
  return out;
}

}  // namespace elmpad::headless
