// Small helpers every test folder shares.
#pragma once

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "json_text.h"

namespace elmpad::testing {

/// Waits until `probe()` holds; false after the hang guard. Tests wait for the
/// event itself this way, never for a fixed time.
template <class Probe>
bool eventually(Probe probe, std::chrono::seconds limit = std::chrono::seconds(30)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!probe()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

/// How many descriptors this process has open (of the first 1024).
inline int open_descriptors() {
  int n = 0;
  for (int fd = 0; fd < 1024; ++fd) n += ::fcntl(fd, F_GETFD) != -1;
  return n;
}

/// A JSON string literal for `text` (which must be UTF-8).
inline std::string quoted(const std::string& text) { return json_string(text).value(); }

/// Sets environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  EnvGuard() = default;
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;
  /// nullopt unsets `name`.
  void set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    put(name, value);
  }
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) put(name, value);
  }

 private:
  static void put(const std::string& name, const std::optional<std::string>& value) {
    if (value) ::setenv(name.c_str(), value->c_str(), 1);
    else ::unsetenv(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace elmpad::testing
