// The socket: takes the app's socket path (refusing when another instance
// serves it or when the path is not the user's own, taking over a stale
// socket), accepts clients, and runs one thread per connection that reads
// request lines and writes one answer for each.
#pragma once

#include <expected>
#include <string>

#include "app.h"

namespace elmpad::headless {

/// Longest request line accepted; longer ones end the connection.
inline constexpr std::size_t kMaxRequestLine = 64u << 20;

class Server {
 public:
  /// Binds `socket_path` for the user alone (the socket 0600 in a folder
  /// 0700, made when missing); the error says what stood in the way.
  static std::expected<Server, std::string> listen(const std::string& socket_path);
  Server(Server&&) noexcept;
  ~Server();

  /// Accepts connections forever, one detached thread each.
  [[noreturn]] void serve(App& app);
  /// Removes the socket file (not the lock), for a clean exit.
  void remove_socket() const;

 private:
  Server(std::string path, int listen_fd, int lock_fd) : path_(std::move(path)), listen_fd_(listen_fd), lock_fd_(lock_fd) {}
  std::string path_;
  int listen_fd_ = -1;
  int lock_fd_ = -1;  // held for the process's life: one instance per socket
};

/// Whether something accepts connections on the socket at `path`.
bool is_served(const std::string& path);

/// Serves one connection until the client closes it (runs on its thread).
void serve_connection(App& app, int fd);

}  // namespace elmpad::headless
