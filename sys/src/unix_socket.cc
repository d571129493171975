#include "unix_socket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace elmpad {

SysResult<sockaddr_un> socket_address(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr.sun_path)) return sys_fail(ENAMETOOLONG);
  std::memcpy(addr.sun_path, path.data(), path.size());
  return addr;
}

SysResult<UniqueFd> connect_socket(const std::string& path) {
  auto addr = socket_address(path);
  if (!addr) return sys_fail(addr.error());
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd) return sys_fail(errno);
  set_cloexec(fd.get());
#ifdef SO_NOSIGPIPE
  // macOS: belt and braces next to the ignored SIGPIPE.
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
  while (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0) {
    if (errno != EINTR) return sys_fail(errno);
  }
  return fd;
}

}  // namespace elmpad
