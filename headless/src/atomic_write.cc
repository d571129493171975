#include "atomic_write.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "sys_error.h"
#include "unique_fd.h"

namespace elmpad::headless {
namespace {

std::unexpected<RunErr> write_failed(std::string_view call, int err = errno) {
  return std::unexpected(sys_error("WRITE_FAILED", call, err));
}

// A note's name is repeated in its temporary file's name unless the longer
// name would pass the file system's limit and make every edit of it fail.
constexpr std::size_t kMaxRepeatedName = 128;
constexpr std::string_view kTemporaryMark = ".elmwrite-";
constexpr std::size_t kRandomPart = 6;  // the XXXXXX mkstemp fills in

std::string temporary_prefix(const std::string& name) {
  return (name.size() > kMaxRepeatedName ? std::string() : "." + name) + std::string(kTemporaryMark);
}

bool is_temporary_name(std::string_view entry, std::string_view prefix) {
  if (!entry.starts_with(prefix) || entry.size() != prefix.size() + kRandomPart) return false;
  for (char c : entry.substr(prefix.size())) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

using FileId = std::pair<dev_t, ino_t>;

FileId id_of(const struct stat& st) { return {st.st_dev, st.st_ino}; }

bool same_file_at(const std::string& path, FileId id) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && id_of(st) == id;
}

enum class Lock { kTaken, kBusy, kUnsupported };

// A record lock on the whole file: a write holds one on its temporary file
// for as long as the file has that name.
Lock lock_file(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_SETLK, &lock) == 0) return Lock::kTaken;
  return errno == EACCES || errno == EAGAIN ? Lock::kBusy : Lock::kUnsupported;
}

// The temporary files of this process's writes in progress. LIVE_MU is held
// while one is made and entered here, and while a leftover is checked and
// removed: record locks cannot tell this process's writes from a dead one's,
// and closing any descriptor of a file drops the process's locks on it. A
// multiset: a file's number is free for a new file once a rename replaced it,
// even before the write that renamed it forgets it.
std::mutex LIVE_MU;
std::multiset<FileId> LIVE;  // guarded by LIVE_MU

// Called with LIVE_MU held.
void remove_if_stale(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) return;
  if (LIVE.contains(id_of(st))) return;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return;
  struct stat opened {};
  // Without the lock no write holds the file; still under its name, it is
  // the file looked at above.
  if (lock_file(fd.get(), F_RDLCK) == Lock::kTaken && ::fstat(fd.get(), &opened) == 0 && id_of(opened) == id_of(st) &&
      same_file_at(path, id_of(st))) {
    ::unlink(path.c_str());
  }
}

void remove_stale_in(const std::string& dir, const std::string& name) {
  const std::string prefix = temporary_prefix(name);
  std::vector<std::string> found;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(d)) {
      if (is_temporary_name(entry->d_name, prefix)) found.push_back(dir + entry->d_name);
    }
    ::closedir(d);
  }
  std::lock_guard lock(LIVE_MU);
  for (const auto& path : found) remove_if_stale(path);
}

struct Target {
  std::string dir;  // ends with '/'
  std::string name;
};

// Where the note really is: renaming over a symbolic link would replace the
// link, not the note.
Result<Target> locate(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return write_failed("realpath");
  std::string target = resolved;
  auto slash = target.rfind('/');
  return Target{target.substr(0, slash + 1), target.substr(slash + 1)};
}

struct Temporary {
  UniqueFd fd;  // holds the lock
  std::string path;
  FileId id;
};

// A new temporary file beside the note, locked and entered in LIVE.
Result<Temporary> make_temporary(const Target& target) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::lock_guard live(LIVE_MU);
    std::string tmp = target.dir + temporary_prefix(target.name) + std::string(kRandomPart, 'X');
    UniqueFd fd(::mkstemp(tmp.data()));
    if (!fd) return write_failed("mkstemp");
    set_cloexec(fd.get());
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
      int err = errno;
      ::unlink(tmp.c_str());
      return write_failed("fstat", err);
    }
    // Another process cleaning up may have come upon the new file before the
    // lock was taken; it removes the file, so try another. A file system
    // without record locks still gets its edit, only less protection.
    if (lock_file(fd.get(), F_WRLCK) == Lock::kBusy || !same_file_at(tmp, id_of(st))) continue;
    LIVE.insert(id_of(st));
    return Temporary{std::move(fd), std::move(tmp), id_of(st)};
  }
  return fail_with("WRITE_FAILED", "mkstemp: the temporary file was taken away");
}

void forget(FileId id) {
  std::lock_guard live(LIVE_MU);
  LIVE.erase(LIVE.find(id));
}

}  // namespace

Result<std::string> read_file(const std::string& path) {
  // A FIFO or a device in place of the note must not block the reader for
  // ever: open without waiting for a writer, and read only regular files.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK));
  if (!fd) return std::unexpected(sys_error("READ_FAILED", "open", errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail_with("READ_FAILED", "not a regular file");
  std::string out;
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(sys_error("READ_FAILED", "read", errno));
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

bool is_read_only(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & 0222) == 0) return true;
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) return false;
  return errno == EACCES || errno == EPERM || errno == EROFS;
}

void remove_stale_temporaries(const std::string& path) {
  if (auto target = locate(path)) remove_stale_in(target->dir, target->name);
}

Result<void> write_file_atomically(const std::string& path, std::string_view content) {
  auto target = locate(path);
  if (!target) return std::unexpected(std::move(target).error());
  const std::string note = target->dir + target->name;
  struct stat st {};
  if (::stat(note.c_str(), &st) != 0) return write_failed("stat");
  remove_stale_in(target->dir, target->name);

  auto made = make_temporary(*target);
  if (!made) return std::unexpected(std::move(made).error());
  Temporary& tmp = *made;
  auto abandon = [&](std::string_view call, int err) {
    ::unlink(tmp.path.c_str());
    tmp.fd.reset();
    forget(tmp.id);
    return write_failed(call, err);
  };
  if (::fchmod(tmp.fd.get(), st.st_mode & 07777) != 0) return abandon("fchmod", errno);
  if (auto written = write_all(tmp.fd.get(), content); !written) return abandon("write", written.error());
  if (::fsync(tmp.fd.get()) != 0) return abandon("fsync", errno);
  if (::rename(tmp.path.c_str(), note.c_str()) != 0) return abandon("rename", errno);
  // Closed only now: the lock marks the temporary file as live for as long
  // as it has its name.
  tmp.fd.reset();
  forget(tmp.id);
  // The rename itself is durable once the directory is synced.
  if (UniqueFd dir(::open(target->dir.c_str(), O_RDONLY)); dir) ::fsync(dir.get());
  return {};
}

}  // namespace elmpad::headless
