#include "socket_path.h"

namespace elmpad {

std::string join_path(std::string_view base, std::string_view tail) {
  if (!tail.empty() && tail.front() == '/') return std::string(tail);
  std::string out(base);
  if (!out.empty() && out.back() != '/') out += '/';
  out += tail;
  return out;
}

std::string socket_path_under(std::string_view dir, std::string_view bundle_id) {
  return join_path(join_path(dir, bundle_id), kSocketFileName);
}

std::string socket_path(std::string_view home) {
  return socket_path_under(join_path(home, "Library/Application Support"), kBundleId);
}

}  // namespace elmpad
