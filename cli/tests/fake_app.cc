#include "fake_app.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "json_text.h"
#include "socket_path.h"

namespace elmpad::testing {
namespace {

void write_fully(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string replace_id(std::string line, const std::string& id) {
  for (auto pos = line.find("{id}"); pos != std::string::npos; pos = line.find("{id}", pos + id.size())) {
    line.replace(pos, 4, id);
  }
  return line;
}

}  // namespace

FakeApp::FakeApp(std::string home) : path_(elmpad::socket_path(home)) {
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
  ::unlink(path_.c_str());
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
  // The program under test must not inherit the fake's descriptors: tests
  // check what leaks into the children it starts.
  ::fcntl(listen_fd_, F_SETFD, FD_CLOEXEC);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path_.data(), path_.size());
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 64) != 0) {
    throw std::runtime_error("FakeApp cannot serve " + path_ + ": " + std::strerror(errno));
  }
  if (::pipe(wake_) != 0) throw std::runtime_error("pipe");
  for (int fd : wake_) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  acceptor_ = std::thread([this] { accept_loop(); });
}

FakeApp::~FakeApp() {
  (void)!::write(wake_[1], "x", 1);
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mu_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
  ::close(listen_fd_);
  ::unlink(path_.c_str());
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void FakeApp::on(const std::string& cmd, Action action) {
  std::lock_guard lock(mu_);
  script_[cmd].push_back(std::move(action));
}

void FakeApp::reply(const std::string& cmd, std::vector<std::string> lines) {
  on(cmd, Action{.lines = std::move(lines)});
}

void FakeApp::hang_up_on(const std::string& cmd) { on(cmd, Action{.hang_up = true}); }

void FakeApp::hold(const std::string& cmd) { on(cmd, Action{.hold = true}); }

void FakeApp::release() {
  std::lock_guard lock(mu_);
  released_ = true;
  changed_.notify_all();
}

std::vector<std::string> FakeApp::received() const {
  std::lock_guard lock(mu_);
  return received_;
}

bool FakeApp::wait_for_requests(std::size_t n, std::chrono::seconds limit) {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, limit, [&] { return received_.size() >= n; });
}

bool FakeApp::wait_until_idle(std::chrono::seconds limit) {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, limit, [&] { return open_ == 0; });
}

std::size_t FakeApp::connections_accepted() const {
  std::lock_guard lock(mu_);
  return accepted_;
}

std::size_t FakeApp::connections_open() const {
  std::lock_guard lock(mu_);
  return open_;
}

Action FakeApp::next_action(const std::string& cmd) {
  std::lock_guard lock(mu_);
  auto it = script_.find(cmd);
  if (it == script_.end() || it->second.empty()) return Action{.lines = {R"({"id":{id},"ok":true})"}};
  Action action = std::move(it->second.front());
  it->second.pop_front();
  return action;
}

void FakeApp::accept_loop() {
  while (true) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::lock_guard lock(mu_);
    ++accepted_;
    ++open_;
    threads_.emplace_back([this, fd] { serve(fd); });
  }
}

void FakeApp::serve(int fd) {
  std::string buffer;
  bool open = true;
  while (open) {
    // Take one complete line, reading more as needed.
    std::size_t newline;
    while ((newline = buffer.find('\n')) == std::string::npos) {
      pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[1].revents) break;
      if (!fds[0].revents) continue;
      char chunk[4096];
      ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n <= 0) break;
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    if (newline == std::string::npos) break;
    std::string line = buffer.substr(0, newline + 1);
    buffer.erase(0, newline + 1);

    std::string cmd, id = "0";
    if (auto parsed = parse_json(line); parsed && parsed->is_object()) {
      if (auto c = parsed->find("cmd"); c != parsed->end() && c->is_string()) cmd = c->get<std::string>();
      if (auto i = parsed->find("id"); i != parsed->end()) id = i->dump();
    }
    {
      std::lock_guard lock(mu_);
      received_.push_back(line);
      changed_.notify_all();
    }
    Action action = next_action(cmd);
    if (action.hold) {
      // Answer only after release(); meanwhile notice the client leaving.
      while (true) {
        {
          std::lock_guard lock(mu_);
          if (released_) break;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        ::poll(fds, 2, 20);
        if (fds[1].revents) {
          open = false;
          break;
        }
        if (fds[0].revents) {
          char c;
          if (::recv(fd, &c, 1, MSG_PEEK) <= 0) {
            open = false;
            break;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      }
      if (!open) break;
    }
    for (const auto& l : action.lines) write_fully(fd, replace_id(l, id) + (action.raw ? "" : "\n"));
    if (action.hang_up) break;
  }
  ::close(fd);
  std::lock_guard lock(mu_);
  --open_;
  changed_.notify_all();
}

}  // namespace elmpad::testing
