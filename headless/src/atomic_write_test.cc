#include "atomic_write.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace elmpad::headless {
namespace {

class AtomicWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/elmwrite-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string put(const std::string& name, const std::string& text) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::size_t entries() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++n;
    return n;
  }
  std::string dir_;
};

// Names up to the file system's limit, through a link too: the edit lands in
// the note and nothing else is left in the folder.
TEST_F(AtomicWrite, ReplacesTheNoteWhateverItsName) {
  for (std::size_t length : {1u, 100u, 200u, 252u}) {
    std::string name = std::string(length, 'n') + ".md";
    std::string path = put(name, "old\n");
    auto written = write_file_atomically(path, "new\n");
    ASSERT_TRUE(written.has_value()) << length << ": " << written.error();
    EXPECT_EQ(read_file(path).value_or(""), "new\n");
    std::filesystem::remove(path);
  }
  std::string note = put("a.md", "old\n");
  ASSERT_EQ(::symlink(note.c_str(), (dir_ + "/link.md").c_str()), 0);
  ASSERT_TRUE(write_file_atomically(dir_ + "/link.md", "via link\n").has_value());
  EXPECT_EQ(read_file(note).value_or(""), "via link\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ + "/link.md"));
  EXPECT_EQ(entries(), 2u);
}

TEST_F(AtomicWrite, ReadsOnlyRegularFiles) {
  ASSERT_EQ(::mkfifo((dir_ + "/pipe.md").c_str(), 0600), 0);
  for (const std::string& path : {dir_ + "/pipe.md", dir_}) {
    auto read = read_file(path);
    ASSERT_FALSE(read.has_value()) << path;
    EXPECT_EQ(read.error(), "not a regular file");
  }
  EXPECT_EQ(read_file(put("e.md", "")).value_or("x"), "");
}

}  // namespace
}  // namespace elmpad::headless
