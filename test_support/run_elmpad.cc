#include "run_elmpad.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "support.h"

namespace elmpad::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Descriptors the test process got from whoever ran it (ctest passes some
// on) would otherwise reach the program under test and its children, and
// tests check what those children inherit.
void keep_descriptors_from_children() {
  long max = ::sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  for (int fd = 3; fd < max; ++fd) set_cloexec(fd);
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
  static std::once_flag once;
  std::call_once(once, keep_descriptors_from_children);
  ::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  char err_name[] = "/tmp/elmpad-err-XXXXXX";
  err_ = ::mkstemp(err_name);
  if (::pipe(in) != 0 || ::pipe(out) != 0 || err_ < 0) throw std::runtime_error("pipe");
  ::unlink(err_name);
  // The copies made on the standard streams are the child's only ones.
  for (int fd : {in[0], in[1], out[0], out[1], err_}) set_cloexec(fd);
  ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_, 2);
  const std::string program = options.program.empty() ? std::string(ELMPAD_BIN) : options.program;
  std::vector<std::string> argv = {program};
  if (!options.cwd.empty()) argv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", options.cwd, program};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  auto envs = child_environment(options);
  std::vector<char*> cenv;
  for (auto& e : envs) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  // This process ignores SIGPIPE; the child starts as a shell would start it.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  int rc = ::posix_spawn(&pid_, cargv[0], &actions, &attr, cargv.data(), cenv.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (rc != 0) throw std::runtime_error(std::string("spawn: ") + std::strerror(rc));
  in_ = in[1];
  out_ = LineReader(UniqueFd(out[0]));
}

Child::~Child() {
  if (!exited_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, err_}) {
    if (fd >= 0) ::close(fd);
  }
}

void Child::write(const std::string& bytes) {
  if (in_ >= 0) (void)write_all(in_, bytes);  // fails only when the child is gone
}

void Child::close_stdin() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

void Child::close_stdout() { out_ = LineReader(); }

bool Child::read_more(Clock::time_point deadline) {
  while (out_.fd() >= 0) {
    auto n = out_.read_line(out_buf_);
    if (n) return *n > 0;
    if (n.error() != EAGAIN) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd fd{out_.fd(), POLLIN, 0};
    if (left <= 0 || ::poll(&fd, 1, static_cast<int>(left)) == 0) return false;
  }
  return false;
}

std::optional<std::string> Child::read_line(std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (true) {
    if (auto nl = out_buf_.find('\n'); nl != std::string::npos) {
      std::string line = out_buf_.substr(0, nl);
      out_buf_.erase(0, nl + 1);
      return line;
    }
    if (!read_more(deadline)) return std::nullopt;
  }
}

bool Child::ended() {
  int status = 0;
  if (!exited_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
    exited_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return exited_;
}

int Child::wait(std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (read_more(deadline)) {
  }
  // Output has ended; the child may still be exiting.
  if (!eventually([&] { return ended(); },
                  std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now()) + std::chrono::seconds(1))) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    exited_ = true;
    note_ = "\n[test harness: killed after time limit]";
    status_ = -1;
  }
  return status_;
}

std::string Child::err() {
  std::string text;
  char buf[65536];
  ssize_t n;
  for (off_t at = 0; (n = ::pread(err_, buf, sizeof buf, at)) > 0; at += n) text.append(buf, static_cast<std::size_t>(n));
  return text + note_;
}

std::string Child::rest_of_out() { return std::exchange(out_buf_, std::string()); }

RunResult run_elmpad(const RunOptions& options, std::chrono::seconds limit) {
  Child child(options);
  child.close_stdin();
  RunResult result;
  result.status = child.wait(limit);
  result.out = child.rest_of_out();
  result.err = child.err();
  return result;
}

}  // namespace elmpad::testing
