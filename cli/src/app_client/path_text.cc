#include "app_client/path_text.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "socket_path.h"
#include "utf8.h"

namespace elmpad {

Result<std::string> current_dir() {
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::unexpected(RunErr::from_errno("NO_CWD", errno));
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

std::string absolute_path(std::string_view cwd, std::string_view path) {
  return join_path(cwd, path);
}

std::string path_text(std::string_view path) { return utf8_lossy(path); }

FileKind file_kind(const std::string& path) {
  // A path with a NUL byte names nothing: the system would see only the
  // part before it.
  if (path.find('\0') != std::string::npos) return FileKind::kMissing;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FileKind::kMissing;
  return S_ISDIR(st.st_mode) ? FileKind::kDirectory : FileKind::kOther;
}

}  // namespace elmpad
