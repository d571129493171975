/* floor_status: the least work `elmpad status` can do, to put its cost
 * beside: connect to the application's socket, send the status request,
 * print the answer line as it came. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(void) {
  const char *home = getenv("HOME");
  if (!home) return 1;
  struct sockaddr_un addr = {0};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s/Library/Application Support/com.tarn.elmwrite/elmpad.sock",
           home);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  if (s < 0 || connect(s, (struct sockaddr *)&addr, sizeof addr) != 0) {
    fputs("Elmwrite is not running\n", stdout);
    return 0;
  }
  static const char req[] = "{\"id\":1,\"proto\":1,\"cmd\":\"status\"}\n";
  if (write(s, req, sizeof req - 1) != (ssize_t)(sizeof req - 1)) return 1;
  char buf[8192];
  size_t n = 0;
  for (;;) {
    ssize_t r = read(s, buf + n, sizeof buf - n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 1;
    n += (size_t)r;
    if (memchr(buf, '\n', n) || n == sizeof buf) break;
  }
  return fwrite(buf, 1, n, stdout) == n ? 0 : 1;
}
