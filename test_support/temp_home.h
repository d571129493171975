// A private HOME for one test, under /tmp so the socket path stays short
// enough for a socket address on every platform; removed afterwards.
#pragma once

#include <string>

namespace elmpad::testing {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& path() const { return path_; }
  /// The application's socket path under this home.
  std::string socket_path() const;
  /// Writes `content` to `relative` under the home, creating directories.
  std::string write_file(const std::string& relative, const std::string& content) const;
  std::string make_dir(const std::string& relative) const;
  std::string read_file(const std::string& relative) const;

 private:
  std::string path_;
};

/// Leaves a socket file at `path` that nobody listens on, as a crashed
/// application would.
void make_stale_socket(const std::string& path);

}  // namespace elmpad::testing
