#include "server.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "app_log.h"
#include "line_buffer.h"
#include "request_decode.h"
#include "sys_error.h"
#include "unix_socket.h"

namespace elmpad::headless {

bool is_served(const std::string& path) { return connect_socket(path).has_value(); }

namespace {

bool blank(std::string_view line) { return line.find_first_not_of(" \t\r\n") == std::string_view::npos; }

std::unexpected<RunErr> not_ours(std::string message) { return fail_with("NOT_OURS", std::move(message)); }

std::unexpected<RunErr> listen_failed(std::string_view call) {
  return std::unexpected(sys_error("LISTEN_FAILED", call, errno));
}

// Makes `path` and whichever of its parents are missing, as folders that only
// the user may enter: under a umask that lets the group in, a folder it can
// write to would let the group replace everything below.
Result<void> make_folders(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) == 0) return {};
  std::string parent = std::filesystem::path(path).parent_path().string();
  if (parent != path) {
    if (auto made = make_folders(parent); !made) return made;
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return listen_failed("cannot create " + path);
  return {};
}

// The app's own folder: the user's, and closed to everyone else. One that an
// older version left open to the group is closed now.
Result<void> claim_folder(const std::string& dir) {
  if (auto made = make_folders(dir); !made) return made;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return listen_failed("stat " + dir);
  if (!S_ISDIR(st.st_mode)) return not_ours(dir + " is not a folder");
  if (st.st_uid != ::geteuid()) return not_ours(dir + " belongs to another user; not serving from it");
  if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), st.st_mode & 0700) != 0) {
    return listen_failed("chmod " + dir);
  }
  return {};
}

// What is at the socket path may be replaced: nothing, or a socket of the
// user's own (a crashed instance's, when nobody serves it).
Result<void> may_take_over(const std::string& socket_path) {
  struct stat st {};
  if (::lstat(socket_path.c_str(), &st) != 0) return {};
  if (!S_ISSOCK(st.st_mode)) return not_ours(socket_path + " exists and is not a socket; not replacing it");
  if (st.st_uid != ::geteuid()) return not_ours(socket_path + " belongs to another user; not taking it over");
  return {};
}

// The lock that makes "is another instance starting or running?" one atomic
// question; the socket file alone cannot tell a slow start from a crash.
Result<UniqueFd> take_instance_lock(const std::string& socket_path) {
  std::string lock_path = socket_path + ".lock";
  UniqueFd lock_fd(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600));
  if (!lock_fd) return listen_failed("open " + lock_path);
  set_cloexec(lock_fd.get());
  struct stat lock_st {};
  if (::fstat(lock_fd.get(), &lock_st) != 0 || lock_st.st_uid != ::geteuid()) {
    return not_ours(lock_path + " belongs to another user; not using it");
  }
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(lock_fd.get(), F_SETLK, &lock) != 0 || is_served(socket_path)) {
    return fail_with("ALREADY_SERVED", "another instance is already serving " + socket_path);
  }
  return lock_fd;
}

}  // namespace

Result<Server> Server::listen(const std::string& socket_path) {
  auto addr = socket_address(socket_path);
  if (!addr) return fail_with("LISTEN_FAILED", "socket path too long: " + socket_path);
  if (auto claimed = claim_folder(std::filesystem::path(socket_path).parent_path().string()); !claimed) {
    return std::unexpected(std::move(claimed).error());
  }
  if (auto free = may_take_over(socket_path); !free) return std::unexpected(std::move(free).error());
  auto lock = take_instance_lock(socket_path);
  if (!lock) return std::unexpected(std::move(lock).error());
  ::unlink(socket_path.c_str());  // a stale socket left by a crash

  UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!listener) return listen_failed("socket");
  set_cloexec(listener.get());
  // The socket is born with the umask's mode; the folder already keeps
  // others out until it is narrowed to the user's alone.
  if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0) {
    return listen_failed("bind " + socket_path);
  }
  if (::chmod(socket_path.c_str(), 0600) != 0 || ::listen(listener.get(), 64) != 0) {
    auto failed = listen_failed("listen " + socket_path);
    ::unlink(socket_path.c_str());
    return failed;
  }
  return Server(socket_path, std::move(listener), std::move(*lock));
}

void Server::remove_socket() const { ::unlink(path_.c_str()); }

void Server::serve(App& app) {
  while (true) {
    UniqueFd client(::accept(listener_.get(), nullptr, nullptr));
    if (!client) {
      // Out of descriptors or an aborted client: keep serving the others.
      if (errno != EINTR) ::usleep(10000);
      continue;
    }
    set_cloexec(client.get());
    try {
      std::thread([&app, client = std::move(client)]() mutable { serve_connection(app, std::move(client)); }).detach();
    } catch (const std::system_error&) {
      // No thread to spare: this client is turned away (the thread's copy
      // of its socket closes), and the app keeps going.
    }
  }
}

void serve_connection(App& app, UniqueFd socket) {
  auto made = Peer::make(std::move(socket));
  if (!made) {
    print_line("elmwrite-headless: client turned away: " + made.error().message);
    return;
  }
  ClientConnection conn{std::move(*made), {}};
  Peer& peer = *conn.peer;
  const int fd = peer.fd();
  // Answers one line; false once the connection is over.
  auto serve_line = [&](std::string_view line) {
    if (blank(line)) return true;
    auto request = decode_request(line);
    if (!request) {
      return peer.answer(encode_server_msg(Response{request.error().id.value_or(0), false, std::nullopt,
                                                    ErrorBody{"BAD_REQUEST", {{"detail", request.error().message}}}}));
    }
    peer.hold_events();
    auto answer = app.handle(*request, conn);
    if (!answer) return false;  // the client left: during a wait, or before its read
    std::string encoded = encode_server_msg(*answer);
    answer.reset();  // only the line waits for a client slow to read it
    return peer.answer(std::move(encoded));
  };

  // Ends the connection, whether the line ended in the same read or not yet.
  auto refuse_too_long = [&] {
    (void)peer.answer(encode_server_msg(
        Response{0, false, std::nullopt, ErrorBody{"BAD_REQUEST", {{"detail", "request line too long"}}}}));
    return false;
  };

  LineBuffer lines;
  char chunk[65536];
  while (true) {
    bool open = true;
    while (open) {
      auto line = lines.next();
      if (!line) break;
      open = line->size() > kMaxRequestLine ? refuse_too_long() : serve_line(*line);
    }
    if (!open || (lines.pending() > kMaxRequestLine && !refuse_too_long())) break;
    // The next request, or events other threads queued for this client.
    pollfd fds[2] = {{fd, POLLIN, 0}, {peer.wake_fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if ((fds[1].revents & POLLIN) && !peer.flush()) break;
    if (fds[0].revents == 0) continue;
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      lines.append(std::string_view(chunk, static_cast<std::size_t>(n)));
      continue;
    }
    // A last request without its line feed still counts.
    if (auto last = lines.rest()) serve_line(*last);
    break;
  }
  app.connection_closed(conn);
  peer.close();
}

}  // namespace elmpad::headless
