#include "run_elmpad.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace elmpad::testing {
namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::vector<std::string> child_environment(const RunOptions& options) {
  std::map<std::string, std::optional<std::string>> vars;
  vars["PATH"] = std::string(FAKE_BIN_DIR) + ":/usr/local/bin:/usr/bin:/bin";
  vars["FAKE_APP_BIN"] = std::string(FAKE_APP_BIN);
  vars["LC_ALL"] = "C.UTF-8";
  if (options.home) vars["HOME"] = *options.home;
  for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* v = std::getenv(keep)) vars[keep] = std::string(v);
  }
  for (const auto& [k, v] : options.env) vars[k] = v;
  std::vector<std::string> out;
  for (const auto& [k, v] : vars) {
    if (v) out.push_back(k + "=" + *v);
  }
  return out;
}

Child::Child(const RunOptions& options) {
  int in[2], out[2], err[2];
  if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe");
  for (int fd : {in[1], out[0], err[0]}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  for (int fd : {in[0], out[1], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  std::string cwd = options.cwd;
  // glibc 2.29+ (and macOS) have the chdir action; run through env -C otherwise.
  std::vector<std::string> argv;
  if (!cwd.empty()) {
    argv = {"/usr/bin/env", "-C", cwd, options.program};
  } else {
    argv = {options.program};
  }
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  auto envs = child_environment(options);
  std::vector<char*> cenv;
  for (auto& e : envs) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  int rc = ::posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (rc != 0) throw std::runtime_error(std::string("spawn: ") + std::strerror(rc));
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  ::signal(SIGPIPE, SIG_IGN);
}

Child::~Child() {
  if (!exited_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) ::close(fd);
  }
}

void Child::write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size() && in_ >= 0) {
    ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pump(10);
        continue;
      }
      return;  // the child is gone
    }
    done += static_cast<std::size_t>(n);
  }
}

void Child::close_stdin() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

void Child::close_stdout() {
  if (out_ >= 0) ::close(out_);
  out_ = -1;
}

bool Child::pump(int timeout_ms) {
  pollfd fds[2];
  nfds_t n = 0;
  if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
  if (err_ >= 0) fds[n++] = {err_, POLLIN, 0};
  if (n == 0) return false;
  int rc = ::poll(fds, n, timeout_ms);
  if (rc <= 0) return false;
  for (nfds_t i = 0; i < n; ++i) {
    if (!fds[i].revents) continue;
    char buf[65536];
    ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
    bool is_out = fds[i].fd == out_;
    if (got <= 0) {
      ::close(fds[i].fd);
      (is_out ? out_ : err_) = -1;
    } else {
      (is_out ? out_buf_ : err_buf_).append(buf, static_cast<std::size_t>(got));
    }
  }
  return true;
}

std::optional<std::string> Child::read_line(std::chrono::seconds limit) {
  auto deadline = Clock::now() + limit;
  while (true) {
    auto nl = out_buf_.find('\n');
    if (nl != std::string::npos) {
      std::string line = out_buf_.substr(0, nl);
      out_buf_.erase(0, nl + 1);
      return line;
    }
    if (out_ < 0 || Clock::now() >= deadline) return std::nullopt;
    pump(ms_left(deadline));
  }
}

int Child::wait(std::chrono::seconds limit) {
  if (exited_) return status_;
  auto deadline = Clock::now() + limit;
  while ((out_ >= 0 || err_ >= 0) && Clock::now() < deadline) pump(ms_left(deadline));
  // Outputs are closed; the child may still be exiting (or a grandchild holds
  // the pipes, which the deadline covers).
  while (true) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      exited_ = true;
      status_ = -1;
      err_buf_ += "\n[test harness: killed after time limit]";
      return status_;
    }
    ::usleep(200);  // outputs are closed: the exit is moments away
  }
}

std::string Child::err() {
  while (err_ >= 0 && pump(0)) {
  }
  return err_buf_;
}

std::string Child::rest_of_out() {
  std::string out = std::move(out_buf_);
  out_buf_.clear();
  return out;
}

RunResult run_elmpad(const RunOptions& options, std::chrono::seconds limit) {
  Child child(options);
  child.write(options.stdin_data);
  child.close_stdin();
  RunResult result;
  result.status = child.wait(limit);
  result.out = child.rest_of_out();
  result.err = child.err();
  return result;
}

}  // namespace elmpad::testing
