#include "app_client/spawn.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "unique_fd.h"

extern char** environ;

namespace elmpad {
namespace {

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

SysResult<pid_t> spawn(const std::vector<std::string>& argv, posix_spawn_file_actions_t* actions) {
  pid_t pid = 0;
  auto args = c_argv(argv);
  int err = ::posix_spawnp(&pid, args[0], actions, nullptr, args.data(), environ);
  if (err != 0) return sys_fail(err);
  return pid;
}

SysResult<ExitStatus> wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return sys_fail(errno);
  }
  if (WIFEXITED(status)) return ExitStatus{true, WEXITSTATUS(status)};
  return ExitStatus{false, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

}  // namespace

SysResult<ExitStatus> run_and_wait(const std::vector<std::string>& argv) {
  auto pid = spawn(argv, nullptr);
  if (!pid) return sys_fail(pid.error());
  return wait_for(*pid);
}

void start_detached(const std::vector<std::string>& argv) {
  // Spawn through a short-lived intermediate child that we reap at once: the
  // real child is then init's to reap, and nothing here waits on it.
  // The argument vector is built before fork: after fork only the forking
  // thread survives, and allocating there could deadlock on a lock another
  // thread held.
  const auto args = c_argv(argv);
  pid_t middle = ::fork();
  if (middle < 0) return;
  if (middle == 0) {
    pid_t pid = 0;
    (void)::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
    ::_exit(0);
  }
  (void)wait_for(middle);
}

SysResult<std::string> capture_output(const std::vector<std::string>& argv) {
  int fds[2];
  if (::pipe(fds) != 0) return sys_fail(errno);
  UniqueFd read_end(fds[0]), write_end(fds[1]);
  set_cloexec(read_end.get());
  set_cloexec(write_end.get());

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  auto pid = spawn(argv, actions.get());
  if (!pid) return sys_fail(pid.error());
  write_end.reset();

  std::string out;
  char buffer[4096];
  while (true) {
    ssize_t n = ::read(read_end.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  (void)wait_for(*pid);
  return out;
}

}  // namespace elmpad
