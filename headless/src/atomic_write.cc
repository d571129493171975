#include "atomic_write.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace elmpad::headless {
namespace {

std::string sys_error(std::string_view call) { return std::string(call) + ": " + std::strerror(errno); }

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::expected<std::string, std::string> read_file(const std::string& path) {
  // A FIFO or a device in place of the note must not block the reader for
  // ever: open without waiting for a writer, and read only regular files.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return std::unexpected(sys_error("open"));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::unexpected(std::string("not a regular file"));
  }
  std::string out;
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      auto err = sys_error("read");
      ::close(fd);
      return std::unexpected(err);
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

std::expected<void, std::string> write_file_atomically(const std::string& path, std::string_view content) {
  // Renaming over a symbolic link would replace the link, not the note.
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return std::unexpected(sys_error("realpath"));
  std::string target = resolved;
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) return std::unexpected(sys_error("stat"));

  auto slash = target.rfind('/');
  std::string dir = target.substr(0, slash + 1);
  // The note's name marks whose temporary file it is, unless the longer name
  // would pass the file system's limit and make every edit of the note fail.
  std::string name = target.substr(slash + 1);
  std::string tmp = dir + (name.size() > 128 ? std::string() : "." + name) + ".elmwrite-XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return std::unexpected(sys_error("mkstemp"));
  auto abandon = [&](std::string err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return std::unexpected(std::move(err));
  };
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return abandon(sys_error("fcntl"));
  if (::fchmod(fd, st.st_mode & 07777) != 0) return abandon(sys_error("fchmod"));
  if (!write_all(fd, content)) return abandon(sys_error("write"));
  if (::fsync(fd) != 0) return abandon(sys_error("fsync"));
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return std::unexpected(sys_error("close"));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    auto err = sys_error("rename");
    ::unlink(tmp.c_str());
    return std::unexpected(err);
  }
  // The rename itself is durable once the directory is synced.
  if (int dfd = ::open(dir.c_str(), O_RDONLY); dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
}

}  // namespace elmpad::headless
