#include "app_log.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <unistd.h>

namespace elmpad::headless {

void print_line(std::string_view line) {
  static std::mutex mu;  // keeps lines from different threads apart
  std::string out(line);
  out += '\n';
  std::lock_guard lock(mu);
  std::string_view rest = out;
  while (!rest.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace elmpad::headless
