#include "temp_home.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstring>

#include "socket_path.h"
#include "unix_socket.h"

namespace elmpad::testing {

namespace fs = std::filesystem;

TempHome::TempHome() {
  char pattern[] = "/tmp/elmpad-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempHome::~TempHome() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempHome::socket_path() const { return elmpad::socket_path(path_); }

std::string TempHome::write_file(const std::string& relative, const std::string& content) const {
  fs::path p = fs::path(path_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
  return p.string();
}

std::string TempHome::make_dir(const std::string& relative) const {
  fs::path p = fs::path(path_) / relative;
  fs::create_directories(p);
  return p.string();
}

std::string TempHome::read_file(const std::string& relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void make_stale_socket(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  auto addr = socket_address(path);
  if (!addr || ::bind(fd, reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0) {
    ::close(fd);
    throw std::runtime_error("bind failed: " + path);
  }
  ::close(fd);  // the file stays; connecting to it is refused
}

}  // namespace elmpad::testing
