#include "app_log.h"

#include <mutex>
#include <string>
#include <unistd.h>

#include "unique_fd.h"

namespace elmpad::headless {

void print_line(std::string_view line) {
  static std::mutex mu;  // keeps lines from different threads apart
  std::string out(line);
  out += '\n';
  std::lock_guard lock(mu);
  (void)write_all(STDOUT_FILENO, out);  // nobody to tell when nobody watches
}

}  // namespace elmpad::headless
