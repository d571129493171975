// The socket: takes the app's socket path (refusing when another instance
// serves it or when the path is not the user's own, taking over a stale
// socket), accepts clients, and runs one thread per connection that reads
// request lines and writes one answer for each.
#pragma once

#include <string>

#include "app.h"
#include "run_err.h"
#include "unique_fd.h"

namespace elmpad::headless {

/// Longest request line accepted; longer ones end the connection.
inline constexpr std::size_t kMaxRequestLine = 64u << 20;

class Server {
 public:
  /// Binds `socket_path` for the user alone (the socket 0600 in a folder
  /// 0700, made when missing); the error says what stood in the way:
  /// "ALREADY_SERVED" for another instance, "NOT_OURS" for a folder or file
  /// of another user's or not of the kind expected, "LISTEN_FAILED" else.
  static Result<Server> listen(const std::string& socket_path);

  /// Accepts connections forever, one detached thread each.
  [[noreturn]] void serve(App& app);
  /// Removes the socket file (not the lock), for a clean exit.
  void remove_socket() const;

 private:
  Server(std::string path, UniqueFd listener, UniqueFd lock)
      : path_(std::move(path)), listener_(std::move(listener)), lock_(std::move(lock)) {}
  std::string path_;
  UniqueFd listener_;
  UniqueFd lock_;  // held for the process's life: one instance per socket
};

/// Whether something accepts connections on the socket at `path`.
[[nodiscard]] bool is_served(const std::string& path);

/// Serves one connection until the client closes it (runs on its thread).
void serve_connection(App& app, UniqueFd socket);

}  // namespace elmpad::headless
