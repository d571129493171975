#include "cli/parent_name.h"

#include <unistd.h>
#include <vector>

#include "app_client/spawn.h"
#include "utf8.h"

namespace elmpad {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// The last component of `path` the way a path library names a file: empty
// and "." components are skipped, and ".." or nothing left means none.
std::optional<std::string_view> file_name(std::string_view path) {
  std::optional<std::string_view> last;
  while (!path.empty()) {
    auto slash = path.find('/');
    std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != ".") last = part;
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  if (!last || *last == "..") return std::nullopt;
  return last;
}

}  // namespace

std::optional<std::string> label_from_ps_output(std::string_view output) {
  const std::string text = utf8_lossy(output);
  const std::string_view trimmed = trim(text);
  if (trimmed.empty()) return std::nullopt;
  return std::string(file_name(trimmed).value_or(trimmed));
}

std::optional<std::string> parent_name() {
  auto output = capture_output({"ps", "-o", "comm=", "-p", std::to_string(::getppid())});
  if (!output) return std::nullopt;
  return label_from_ps_output(*output);
}

}  // namespace elmpad
