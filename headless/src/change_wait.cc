#include "change_wait.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

#include "atomic_write.h"
#include "markdown_sections.h"

namespace elmpad::headless {
namespace {

using Clock = std::chrono::steady_clock;

// What the file holds, as its token; no token for a file that is not there.
struct FileState {
  bool exists = false;
  std::string token;
  bool operator==(const FileState&) const = default;
};

FileState file_state(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes) return {};
  return {true, text_token(*bytes)};
}

// Readable with nothing to read means the client closed its end.
bool client_gone(int fd) {
  char byte;
  ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

json with_source(json payload, const ChangeWait& wait, const char* source) {
  if (wait.report_source) payload["source"] = source;
  return payload;
}

}  // namespace

std::chrono::milliseconds wait_timeout(std::optional<std::uint64_t> secs) {
  std::uint64_t s = std::min<std::uint64_t>(secs.value_or(120), 600);
  return std::chrono::milliseconds(s * 1000);
}

std::optional<json> wait_for_change(const ChangeWait& wait, Sidebar& sidebar, int client_fd, WaitTiming timing) {
  const auto deadline = Clock::now() + wait.timeout;
  FileState baseline;
  if (wait.path) baseline = file_state(*wait.path);
  std::optional<FileState> candidate;  // a differing state, waiting to settle
  Clock::time_point settle_at{};
  bool watch_client = true;

  while (true) {
    if (wait.workspace) {
      auto messages = sidebar.take(*wait.workspace);
      if (!messages.empty()) {
        json list = json::array();
        for (auto& m : messages) list.push_back(json{{"text", std::move(m.text)}, {"context", std::move(m.context)}});
        return with_source(json{{"messages", std::move(list)}}, wait, "message");
      }
    }
    const auto now = Clock::now();
    if (wait.path) {
      FileState state = file_state(*wait.path);
      if (state == baseline) {
        candidate.reset();  // written back as it was: no change
      } else if (!candidate || !(*candidate == state)) {
        candidate = state;
        settle_at = now + timing.settle;
      } else if (now >= settle_at) {
        return with_source(json{{"changed", true}, {"exists", state.exists}}, wait, "file");
      }
    }
    if (now >= deadline) return with_source(json{{"changed", false}, {"timedOut", true}}, wait, "timeout");

    auto pause = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now), timing.poll);
    pollfd fds[2] = {{client_fd, static_cast<short>(watch_client ? POLLIN : 0), 0},
                     {sidebar.wakeup_fd(), POLLIN, 0}};
    int rc = ::poll(fds, wait.workspace ? 2 : 1, static_cast<int>(std::max<long>(pause.count(), 0)));
    if (rc < 0 && errno != EINTR) return std::nullopt;
    if (fds[0].revents & (POLLHUP | POLLERR)) return std::nullopt;
    if (fds[0].revents & POLLIN) {
      if (client_gone(client_fd)) return std::nullopt;
      // A request queued behind the wait is read once the wait is over.
      watch_client = false;
    }
    if (wait.workspace && (fds[1].revents & POLLIN)) sidebar.drain_wakeups();
  }
}

}  // namespace elmpad::headless
