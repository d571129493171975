#include "atomic_write.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support.h"
#include "temp_home.h"

namespace elmpad::headless {
namespace {

class AtomicWrite : public ::testing::Test {
 protected:
  std::string put(const std::string& name, const std::string& text) { return home_.write_file(name, text); }
  std::set<std::string> names() const {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) out.insert(e.path().filename().string());
    return out;
  }
  testing::TempHome home_;
  const std::string dir_ = home_.path();
};

// Names up to the file system's limit, through a link too: the edit lands in
// the note with its mode whatever the umask, and nothing else is left in the
// folder or open in the process.
TEST_F(AtomicWrite, ReplacesTheNoteWhateverItsName) {
  const int descriptors = testing::open_descriptors();
  for (std::size_t length : {1u, 100u, 200u, 252u}) {
    std::string path = put(std::string(length, 'n') + ".md", "old\n");
    auto written = write_file_atomically(path, "new\n");
    ASSERT_TRUE(written.has_value()) << length << ": " << written.error().message;
    EXPECT_EQ(read_file(path).value_or(""), "new\n");
    std::filesystem::remove(path);
  }
  std::string note = put("a.md", "old\n");
  ASSERT_EQ(::chmod(note.c_str(), 0751), 0);
  ASSERT_EQ(::symlink(note.c_str(), (dir_ + "/link.md").c_str()), 0);
  mode_t before = ::umask(077);
  ASSERT_TRUE(write_file_atomically(dir_ + "/link.md", "via link\n").has_value());
  ::umask(before);
  EXPECT_EQ(read_file(note).value_or(""), "via link\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ + "/link.md"));
  struct stat st {};
  ASSERT_EQ(::stat(note.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(names(), (std::set<std::string>{"a.md", "link.md"}));
  EXPECT_EQ(testing::open_descriptors(), descriptors);
}

// Runs `check` as a user other than the superuser, who may write anything:
// in a child given another identity when the test runs as root.
bool as_ordinary_user(const std::function<bool()>& check) {
  if (::geteuid() != 0) return check();
  pid_t child = ::fork();
  if (child == 0) ::_exit(::setgid(12345) == 0 && ::setuid(12345) == 0 && check() ? 0 : 1);
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(AtomicWrite, ANoteTheUserCouldNotWriteIsReadOnly) {
  std::string path = put("r.md", "text\n");
  errno = EACCES;  // left by an earlier call: not this note's answer
  EXPECT_FALSE(is_read_only(path));
  for (mode_t mode : {0444, 0555, 0400, 0}) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    EXPECT_TRUE(is_read_only(path)) << std::oct << mode;  // the superuser included
  }
  ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
  EXPECT_FALSE(is_read_only(path));
  // Others may write it, its owner may not; and another user's note.
  std::string owned = put("owned.md", "text\n"), others = put("others.md", "text\n");
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(owned.c_str(), 0466), 0);
  ASSERT_EQ(::chmod(others.c_str(), 0644), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(owned.c_str(), 12345, 12345), 0);
    ASSERT_EQ(::chown(others.c_str(), 0, 0), 0);
    EXPECT_TRUE(as_ordinary_user([&] { return is_read_only(others); }));
  }
  EXPECT_TRUE(as_ordinary_user([&] { return is_read_only(owned); }));
}

// A write killed half-way leaves ".<note>.elmwrite-XXXXXX" beside the note
// (".elmwrite-XXXXXX" past 128 bytes of name). Such leftovers of the note go
// before its next write or when it is opened; anything that only looks like
// one stays.
TEST_F(AtomicWrite, LeftoversOfAKilledWriteGoAndNothingElse) {
  std::string note = put("a.md", "old\n");
  const std::string longest = std::string(125, 'l') + ".md", longer = "l" + longest;
  std::string longest_note = put(longest, ""), longer_note = put(longer, "");
  for (std::string name : {".a.md.elmwrite-Ab12Cd", ".a.md.elmwrite-000000", ".elmwrite-zZ9yY8", ".L.elmwrite-aaaaaa"}) {
    if (name.starts_with(".L")) name = "." + longest + name.substr(2);
    put(name, "partial");
  }
  std::set<std::string> kept = {"a.md", longest, longer,
                                ".a.md.elmwrite-Ab12C",  // not a name the app makes
                                ".a.md.elmwrite-Ab12Cde", ".a.md.elmwrite-Ab-2Cd", "a.md.elmwrite-Ab12Cd",
                                ".b.md.elmwrite-Ab12Cd",  // another note's, left for that note
                                "linked", "target", ".a.md.elmwrite-Locked"};
  for (const auto& name : kept) {
    if (!std::filesystem::exists(dir_ + "/" + name)) put(name, "keep");
  }
  // A second name of a file, a link, a folder, another user's file.
  kept.insert({".a.md.elmwrite-Linked", ".a.md.elmwrite-Symlnk", ".a.md.elmwrite-Folder"});
  ASSERT_EQ(::link((dir_ + "/linked").c_str(), (dir_ + "/.a.md.elmwrite-Linked").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "/target").c_str(), (dir_ + "/.a.md.elmwrite-Symlnk").c_str()), 0);
  std::filesystem::create_directory(dir_ + "/.a.md.elmwrite-Folder");
  if (::geteuid() == 0) {
    kept.insert(".a.md.elmwrite-Others");
    ASSERT_EQ(::chown(put(".a.md.elmwrite-Others", "keep").c_str(), 12345, 12345), 0);
  }
  // Another process holds the lock a live write holds on its file.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  struct Holder {  // ends with the test, whatever way it ends
    pid_t pid;
    void end() {
      if (pid > 0) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
      pid = -1;
    }
    ~Holder() { end(); }
  } holder{::fork()};
  ASSERT_GE(holder.pid, 0);
  if (holder.pid == 0) {
    int fd = ::open((dir_ + "/.a.md.elmwrite-Locked").c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    char byte = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    for (;;) ::pause();
  }
  char locked = 0;
  ASSERT_EQ(::read(ready[0], &locked, 1), 1);
  EXPECT_EQ(locked, 'y');

  ASSERT_TRUE(write_file_atomically(note, "new\n").has_value());
  remove_stale_temporaries(longest_note);
  kept.insert(".elmwrite-zZ9yY8");  // the name of a longer note's leftover
  EXPECT_EQ(names(), kept);
  remove_stale_temporaries(longer_note);
  kept.erase(".elmwrite-zZ9yY8");
  EXPECT_EQ(names(), kept);
  for (const auto& name : kept) {
    if (name.find("Folder") == std::string::npos && !name.starts_with("l")) {
      EXPECT_EQ(read_file(dir_ + "/" + name).value_or(""), name == "a.md" ? "new\n" : "keep") << name;
    }
  }
  holder.end();
  for (int fd : ready) ::close(fd);
  // The lock gone with its process, the file is a leftover like any other.
  remove_stale_temporaries(note);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/.a.md.elmwrite-Locked"));
}

// Clean-up running beside this process's own writes leaves them alone.
TEST_F(AtomicWrite, CleanUpNeverTakesAWriteInProgress) {
  std::string note = put("busy.md", "0\n");
  std::atomic<int> writing{3};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) EXPECT_TRUE(write_file_atomically(note, std::to_string(t) + "\n").has_value());
      --writing;
    });
  }
  while (writing > 0) remove_stale_temporaries(note);
  for (auto& t : threads) t.join();
  EXPECT_EQ(names(), std::set<std::string>{"busy.md"});
}

}  // namespace
}  // namespace elmpad::headless
