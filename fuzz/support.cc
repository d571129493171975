#include "support.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "socket_path.h"
#include "unix_socket.h"

namespace elmpad::fuzz {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
  return lines;
}

int stream_of(std::string_view bytes) {
  char path[] = "/tmp/elmpad-fuzz-stream-XXXXXX";
  int fd = ::mkstemp(path);
  check(fd >= 0, "mkstemp");
  ::unlink(path);
  check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "write the stream");
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

ScriptedApp::ScriptedApp() {
  // A hung-up client must be an ordinary write failure, as in elmpad itself.
  std::signal(SIGPIPE, SIG_IGN);
  char home[] = "/tmp/elmpad-fuzz-XXXXXX";
  check(::mkdtemp(home) != nullptr, "mkdtemp");
  ::setenv("HOME", home, 1);
  std::string path = socket_path(home);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
  auto addr = socket_address(path);
  check(addr.has_value(), "socket path length");
  check(::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) == 0 && ::listen(listen_fd_, 16) == 0,
        "serve the app socket");
  std::thread([this] { serve(); }).detach();
}

void ScriptedApp::script(std::vector<std::string> answers) {
  std::lock_guard lock(mu_);
  answers_.assign(answers.begin(), answers.end());
}

void ScriptedApp::serve() {
  while (true) {
    int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    // The client writes one request line, then waits for the answer.
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(n)) == nullptr) {
    }
    std::string answer = "{\"id\":1,\"ok\":true}\n";
    {
      std::lock_guard lock(mu_);
      if (!answers_.empty()) {
        answer = std::move(answers_.front());
        answers_.pop_front();
      }
    }
    for (std::string_view rest = answer; !rest.empty();) {
      ssize_t n = ::write(fd, rest.data(), rest.size());
      if (n <= 0) break;
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(fd);
  }
}

}  // namespace elmpad::fuzz
