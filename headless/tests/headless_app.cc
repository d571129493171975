#include "headless_app.h"

#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>

namespace elmpad::testing {

HeadlessApp::HeadlessApp(const TempHome& home) {
  child_ = std::make_unique<Child>(RunOptions{.home = home.path(), .program = HEADLESS_BIN});
  auto first = child_->read_line();
  if (!first || !first->starts_with("elmwrite-headless: serving ")) {
    throw std::runtime_error("app did not start: " + first.value_or("") + child_->err());
  }
  next_output();  // the help hint
}

bool HeadlessApp::wait_for_output(const std::string& line) {
  while (auto got = child_->read_line()) {
    if (*got == line) return true;
  }
  return false;
}

AppClient::AppClient(const std::string& socket_path) {
  auto socket = connect_socket(socket_path);
  if (!socket) throw std::runtime_error("cannot connect to " + socket_path);
  auto made = make_connection(std::move(*socket));
  if (!made) throw std::runtime_error("cannot read from " + socket_path);
  conn_ = std::move(*made);
  timeval guard{30, 0};
  ::setsockopt(fd(), SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
}

void AppClient::send(const std::string& line) { (void)write_all(fd(), line + "\n"); }

std::optional<std::string> AppClient::read_line() {
  std::string line;
  auto got = conn_.reader.read_line(line);
  if (!got || *got == 0) return std::nullopt;
  if (line.ends_with('\n')) line.pop_back();
  return line;
}

std::string AppClient::ask(const std::string& line) {
  send(line);
  return read_line().value_or("<no answer>");
}

}  // namespace elmpad::testing
