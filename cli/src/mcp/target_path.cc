#include "mcp/target_path.h"

#include "app_client/path_text.h"

namespace elmpad::mcp {

Result<std::string> target_path(std::string_view path, TargetKind kind) {
  std::string absolute;
  if (path.starts_with('/')) {
    absolute = path;
  } else {
    auto cwd = current_dir();
    if (!cwd) return std::unexpected(std::move(cwd).error());
    absolute = absolute_path(*cwd, path);
  }
  std::string text = path_text(absolute);
  bool directory = file_kind(absolute) == FileKind::kDirectory;
  if (kind == TargetKind::kNote && directory) return fail_with("PATH_IS_DIRECTORY", text);
  if (kind == TargetKind::kFolder && !directory) return fail_with("NOT_A_DIRECTORY", text);
  return text;
}

}  // namespace elmpad::mcp
