/* floor_mcp: the least work an MCP server can do for the benchmark's calls,
 * to put elmpad's timings beside. Single-threaded, no JSON parser: it finds
 * "id" and "method" by scanning, answers initialize, ping and tools/list with
 * fixed bytes (the same bytes elmpad sends), and for tools/call connects to
 * the application's socket, sends one request, reads one answer line and
 * escapes its data object into one text item. It checks nothing, so it is a
 * floor, not a server anyone should use. */
#define _GNU_SOURCE /* memmem */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "floor_tools_list.h" /* kToolsListResult: elmpad's tools/list result */

struct buf {
  char *p;
  size_t n, cap;
};

static void reserve(struct buf *b, size_t more) {
  if (b->n + more <= b->cap) return;
  size_t cap = b->cap ? b->cap : 65536;
  while (cap < b->n + more) cap *= 2;
  b->p = realloc(b->p, cap);
  if (!b->p) abort();
  b->cap = cap;
}
static void put(struct buf *b, const char *s, size_t n) {
  reserve(b, n);
  memcpy(b->p + b->n, s, n);
  b->n += n;
}
static void puts_(struct buf *b, const char *s) { put(b, s, strlen(s)); }

static int write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    p += w;
    n -= (size_t)w;
  }
  return 0;
}

/* Reads one line (without its "\n") into `line`; bytes after it stay in
 * `pending`. Returns 0 at end of input. */
static int read_line(int fd, struct buf *pending, struct buf *line) {
  size_t scanned = 0;
  for (;;) {
    char *nl = memchr(pending->p + scanned, '\n', pending->n - scanned);
    if (nl) {
      size_t len = (size_t)(nl - pending->p);
      line->n = 0;
      put(line, pending->p, len);
      memmove(pending->p, nl + 1, pending->n - len - 1);
      pending->n -= len + 1;
      return 1;
    }
    scanned = pending->n;
    reserve(pending, 65536);
    ssize_t r = read(fd, pending->p + pending->n, pending->cap - pending->n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    pending->n += (size_t)r;
  }
}

/* The raw value after "key": up to the next ',' or '}' (numbers), or the
 * text between quotes (strings, without them). */
static const char *value_of(const char *line, size_t n, const char *key, size_t *len) {
  size_t kn = strlen(key);
  const char *end = line + n;
  for (const char *p = line; p + kn <= end; ++p) {
    p = memchr(p, key[0], (size_t)(end - p));
    if (!p || p + kn > end) return NULL;
    if (memcmp(p, key, kn) != 0) continue;
    const char *v = p + kn;
    if (v < end && *v == '"') {
      const char *q = memchr(v + 1, '"', (size_t)(end - v - 1));
      if (!q) return NULL;
      *len = (size_t)(q - v - 1);
      return v + 1;
    }
    const char *q = v;
    while (q < end && *q != ',' && *q != '}') ++q;
    *len = (size_t)(q - v);
    return v;
  }
  return NULL;
}

/* Reads the application's one answer line straight into `b`. */
static void read_answer(int fd, struct buf *b) {
  b->n = 0;
  for (;;) {
    reserve(b, 65536);
    ssize_t r = read(fd, b->p + b->n, b->cap - b->n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    char *nl = memchr(b->p + b->n, '\n', (size_t)r);
    b->n += (size_t)r;
    if (nl) {
      b->n = (size_t)(nl - b->p);
      return;
    }
  }
}

static struct buf out, answer;
static char socket_path[1024];

static void reply_head(const char *id, size_t id_n) {
  out.n = 0;
  puts_(&out, "{\"id\":");
  put(&out, id, id_n);
  puts_(&out, ",\"jsonrpc\":\"2.0\",\"result\":");
}

/* One tools/call: one request to the application, its data as the text. */
static void tools_call(const char *line, size_t n, const char *id, size_t id_n) {
  size_t name_n = 0, path_n = 0;
  const char *name = value_of(line, n, "\"name\":", &name_n);
  const char *path = value_of(line, n, "\"path\":", &path_n);
  struct buf req = {0};
  puts_(&req, "{\"id\":1,\"proto\":1,\"cmd\":\"");
  put(&req, name ? name : "", name ? name_n : 0);
  puts_(&req, "\"");
  if (path) {
    puts_(&req, ",\"path\":\"");
    put(&req, path, path_n);
    puts_(&req, "\"");
  }
  puts_(&req, "}\n");

  struct sockaddr_un addr = {0};
  addr.sun_family = AF_UNIX;
  strcpy(addr.sun_path, socket_path);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  answer.n = 0;
  if (s >= 0 && connect(s, (struct sockaddr *)&addr, sizeof addr) == 0 && write_all(s, req.p, req.n) == 0) {
    read_answer(s, &answer);
  }
  if (s >= 0) close(s);
  free(req.p);

  /* The answer is {"id":1,"ok":true,"data":DATA}: DATA runs from after the
   * key to the last '}'. */
  reply_head(id, id_n);
  puts_(&out, "{\"content\":[{\"text\":\"");
  const char *data = answer.n ? memmem(answer.p, answer.n, "\"data\":", 7) : NULL;
  if (data) {
    const char *from = data + 7, *to = answer.p + answer.n - 1;
    reserve(&out, (size_t)(to - from) * 2 + 64);
    char *w = out.p + out.n;
    for (const char *p = from; p < to; ++p) {
      if (*p == '"' || *p == '\\') *w++ = '\\';
      *w++ = *p;
    }
    out.n = (size_t)(w - out.p);
  }
  puts_(&out, "\",\"type\":\"text\"}]}}\n");
}

int main(void) {
  const char *home = getenv("HOME");
  if (!home) return 1;
  snprintf(socket_path, sizeof socket_path, "%s/Library/Application Support/com.tarn.elmwrite/elmpad.sock", home);
  struct buf pending = {0}, line = {0};
  while (read_line(0, &pending, &line)) {
    size_t id_n = 0, method_n = 0;
    const char *id = value_of(line.p, line.n, "\"id\":", &id_n);
    const char *method = value_of(line.p, line.n, "\"method\":", &method_n);
    if (!id || !method) continue;
    if (method_n == 10 && memcmp(method, "initialize", 10) == 0) {
      reply_head(id, id_n);
      puts_(&out,
            "{\"capabilities\":{\"tools\":{}},\"protocolVersion\":\"2025-06-18\","
            "\"serverInfo\":{\"name\":\"elmpad\",\"version\":\"" ELMPAD_VERSION "\"}}}\n");
    } else if (method_n == 4 && memcmp(method, "ping", 4) == 0) {
      reply_head(id, id_n);
      puts_(&out, "{}}\n");
    } else if (method_n == 10 && memcmp(method, "tools/list", 10) == 0) {
      reply_head(id, id_n);
      put(&out, kToolsListResult, sizeof kToolsListResult - 1);
      puts_(&out, "}\n");
    } else if (method_n == 10 && memcmp(method, "tools/call", 10) == 0) {
      tools_call(line.p, line.n, id, id_n);
    } else {
      continue;
    }
    if (write_all(1, out.p, out.n) != 0) return 0;
  }
  return 0;
}
