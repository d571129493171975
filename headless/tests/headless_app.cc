#include "headless_app.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace elmpad::testing {

HeadlessApp::HeadlessApp(const TempHome& home) {
  RunOptions options;
  options.program = HEADLESS_BIN;
  options.home = home.path();
  child_ = std::make_unique<Child>(options);
  auto first = child_->read_line();
  if (!first || first->rfind("elmwrite-headless: serving ", 0) != 0) {
    throw std::runtime_error("app did not start: " + first.value_or("") + child_->err());
  }
  next_output();  // the help hint
}

void HeadlessApp::user(const std::string& line) { child_->write(line + "\n"); }

std::optional<std::string> HeadlessApp::next_output(std::chrono::seconds limit) { return child_->read_line(limit); }

bool HeadlessApp::wait_for_output(const std::string& line, std::chrono::seconds limit) {
  while (auto got = child_->read_line(limit)) {
    if (*got == line) return true;
  }
  return false;
}

AppClient::AppClient(const std::string& socket_path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socket_path.data(), std::min(socket_path.size(), sizeof addr.sun_path - 1));
  fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) close();
}

AppClient::~AppClient() { close(); }

void AppClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void AppClient::send(const std::string& line) {
  std::string out = line + "\n";
  std::size_t done = 0;
  while (fd_ >= 0 && done < out.size()) {
    ssize_t n = ::send(fd_, out.data() + done, out.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::optional<std::string> AppClient::read_line(std::chrono::seconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    auto nl = buf_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buf_.substr(0, nl);
      buf_.erase(0, nl + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (fd_ < 0 || left.count() <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[65536];
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buf_.append(chunk, static_cast<std::size_t>(n));
  }
}

bool AppClient::wait_readable(std::chrono::seconds limit) {
  if (!buf_.empty()) return true;
  pollfd p{fd_, POLLIN, 0};
  return fd_ >= 0 && ::poll(&p, 1, static_cast<int>(limit.count() * 1000)) == 1 && (p.revents & POLLIN);
}

std::string AppClient::ask(const std::string& line) {
  send(line);
  return read_line().value_or("<no answer>");
}

}  // namespace elmpad::testing
