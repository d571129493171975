#include "fake_app.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "json_text.h"
#include "line_reader.h"
#include "socket_path.h"
#include "unix_socket.h"

namespace elmpad::testing {
namespace {

std::string replace_id(std::string line, const std::string& id) {
  for (auto pos = line.find("{id}"); pos != std::string::npos; pos = line.find("{id}", pos + id.size())) {
    line.replace(pos, 4, id);
  }
  return line;
}

void make_pipe(int fds[2]) {
  if (::pipe(fds) != 0) throw std::runtime_error("pipe");
  for (int i = 0; i < 2; ++i) set_cloexec(fds[i]);
}

}  // namespace

FakeApp::FakeApp(std::string home, std::string log) : path_(elmpad::socket_path(home)), log_(std::move(log)) {
  // A client that left must not end the test process when answered.
  std::signal(SIGPIPE, SIG_IGN);
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
  ::unlink(path_.c_str());
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
  // The program under test must not inherit the fake's descriptors: tests
  // check what leaks into the children it starts.
  set_cloexec(listen_fd_);
  auto addr = socket_address(path_);
  if (!addr || ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0 ||
      ::listen(listen_fd_, 64) != 0) {
    throw std::runtime_error("FakeApp cannot serve " + path_ + ": " + std::strerror(errno));
  }
  make_pipe(stop_);
  make_pipe(release_);
  acceptor_ = std::thread([this] { accept_loop(); });
}

FakeApp::~FakeApp() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
    for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
  }
  (void)write_all(stop_[1], "x");
  acceptor_.join();
  {
    std::lock_guard lock(mu_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
  ::close(listen_fd_);
  ::unlink(path_.c_str());
  for (int fd : {stop_[0], stop_[1], release_[0], release_[1]}) ::close(fd);
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

void FakeApp::release() { (void)write_all(release_[1], "x"); }

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
  return changed_.wait_for(lock, limit, [&] { return open_fds_.empty(); });
}

std::size_t FakeApp::connections_open() const {
  std::lock_guard lock(mu_);
  return open_fds_.size();
}

Action FakeApp::record_and_take_action(const std::string& line, const std::string& cmd) {
  std::lock_guard lock(mu_);
  received_.push_back(line);
  if (!log_.empty()) std::ofstream(log_, std::ios::app | std::ios::binary) << line;
  changed_.notify_all();
  auto it = script_.find(cmd);
  if (it == script_.end() || it->second.empty()) return Action{.lines = {R"({"id":{id},"ok":true})"}};
  Action action = std::move(it->second.front());
  it->second.pop_front();
  return action;
}

void FakeApp::accept_loop() {
  while (true) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (!fds[0].revents) continue;
    int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    set_cloexec(fd);
    std::lock_guard lock(mu_);
    open_fds_.insert(fd);
    if (stopping_) ::shutdown(fd, SHUT_RDWR);
    threads_.emplace_back([this, fd] { serve(fd); });
  }
}

// Until release() or the end; false when the client left or the fake stops.
// Bytes the client sends meanwhile stay unread for later.
bool FakeApp::wait_for_release(int fd) {
  pollfd fds[3] = {{release_[0], POLLIN, 0}, {stop_[0], POLLIN, 0}, {fd, POLLIN, 0}};
  nfds_t count = 3;
  while (true) {
    if (::poll(fds, count, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents) return false;
    if (fds[0].revents) return true;
    if (count == 3 && fds[2].revents) {
      char c;
      if (::recv(fd, &c, 1, MSG_PEEK) <= 0) return false;
      count = 2;  // data, not the end: stop watching it
    }
  }
}

void FakeApp::serve(int fd) {
  auto copy = dup_cloexec(fd);
  LineReader reader(std::move(copy).value_or(UniqueFd()));
  while (true) {
    std::string line;
    auto n = reader.read_line(line);
    if (!n || *n == 0 || line.back() != '\n') break;
    std::string cmd, id = "0";
    if (auto parsed = parse_json(line); parsed && parsed->is_object()) {
      if (auto c = parsed->find("cmd"); c != parsed->end() && c->is_string()) cmd = c->get<std::string>();
      if (auto i = parsed->find("id"); i != parsed->end()) id = i->dump();
    }
    // The request is seen and its action taken in one step: a test that saw
    // this request must not see a later connection take its action.
    Action action = record_and_take_action(line, cmd);
    auto write_lines = [&](const std::vector<std::string>& lines) {
      for (const auto& l : lines) (void)write_all(fd, replace_id(l, id) + (action.raw ? "" : "\n"));
    };
    if (action.deaf) ::shutdown(fd, SHUT_RD);
    write_lines(action.before_hold);
    if (action.hold && !wait_for_release(fd)) break;
    write_lines(action.lines);
    if (action.hang_up || action.deaf) break;
  }
  std::lock_guard lock(mu_);
  open_fds_.erase(fd);
  ::close(fd);
  changed_.notify_all();
}

}  // namespace elmpad::testing
