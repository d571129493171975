/* bench_app: a fast stand-in for the application, for the benchmark only.
 *
 * Serves the socket at argv[1] and answers every request from bytes built in
 * advance, so that the servers under test,
 * not the application, decide the timings. Answers by command:
 *   attach_session  grants session 7 (the connection stays open, as a real
 *                   grant does)
 *   status          a running application with a folder and two tabs
 *   get_context     a context whose "version" already reads as elmpad's, so
 *                   both servers print the same bytes
 *   read_section    a section whose content is N bytes of markdown-like UTF-8
 *                   (quotes, tabs, backslashes, non-ASCII), where N is the
 *                   number in the requested path (/bench/section-N.md); the sizes
 *                   on the command line are built before "ready", others
 *                   on first use
 *   anything else   {"id":…,"ok":true}
 * Every data object is compact with its keys in byte order, so a server that
 * re-prints it leaves it unchanged. Runs until killed. */
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

struct buf {
  char *p;
  size_t n, cap;
};

static void put(struct buf *b, const char *s, size_t n) {
  if (b->n + n > b->cap) {
    size_t cap = b->cap ? b->cap : 4096;
    while (cap < b->n + n) cap *= 2;
    b->p = realloc(b->p, cap);
    if (!b->p) abort();
    b->cap = cap;
  }
  memcpy(b->p + b->n, s, n);
  b->n += n;
}
static void puts_(struct buf *b, const char *s) { put(b, s, strlen(s)); }

/* Lines of a note, cycled until the size is reached. Raw text; escaped as a
 * JSON string when the answer is built. */
static const char *const kNoteLines[] = {
    "## Überblick — \"Plan\" für 2026\n",
    "\n",
    "- [ ] Prüfen: `C:\\Users\\ana\\notes` → `/home/ana/notes`\n",
    "- [x] 会议记录::行动项 — 已完成 🙂\n",
    "\tcode block line with a tab\tand \"quotes\" and a back\\slash\n",
    "> Zitat: «Ça va?» — naïve café, résumé… ½ · ¿qué?\n",
    "Plain ASCII text that goes on for a while to look like prose in a note.\n",
    "| col | \"a\" | \\b | ü |\n",
};

static void append_escaped(struct buf *b, const char *s, size_t n) {
  size_t run = 0;
  for (size_t i = 0; i < n; ++i) {
    const char *esc = NULL;
    switch (s[i]) {
      case '"': esc = "\\\""; break;
      case '\\': esc = "\\\\"; break;
      case '\n': esc = "\\n"; break;
      case '\t': esc = "\\t"; break;
      default: break;
    }
    if (esc) {
      put(b, s + run, i - run);
      puts_(b, esc);
      run = i + 1;
    }
  }
  put(b, s + run, n - run);
}

/* The answer's bytes after its id: ,"ok":true,"data":{…}}\n */
static struct buf section_answer(size_t size) {
  struct buf content = {0}, out = {0};
  size_t k = 0;
  while (content.n < size) {
    const char *line = kNoteLines[k++ % (sizeof kNoteLines / sizeof *kNoteLines)];
    size_t n = strlen(line);
    if (content.n + n > size) {
      /* Fill the rest with ASCII so the size is exact and no character is cut. */
      while (content.n < size) put(&content, "x", 1);
      break;
    }
    put(&content, line, n);
  }
  char tail[64];
  puts_(&out, ",\"ok\":true,\"data\":{\"baseHash\":\"9f2c4e1a\",\"content\":\"");
  append_escaped(&out, content.p, content.n);
  snprintf(tail, sizeof tail, "\",\"end\":%zu,\"heading\":\"Big\",\"start\":1}}\n", k + 1);
  puts_(&out, tail);
  free(content.p);
  return out;
}

#define MAX_SECTIONS 16
static struct {
  size_t size;
  struct buf answer;
} sections[MAX_SECTIONS];
static int section_count;

static const struct buf *section_for(size_t size) {
  const struct buf *found = NULL;
  for (int i = 0; i < section_count; ++i) {
    if (sections[i].size == size) found = &sections[i].answer;
  }
  if (!found && section_count < MAX_SECTIONS) {
    sections[section_count].size = size;
    sections[section_count].answer = section_answer(size);
    found = &sections[section_count++].answer;
  }
  return found;
}

static const char kAttach[] = ",\"ok\":true,\"data\":{\"session\":7}}\n";
static const char kStatus[] =
    ",\"ok\":true,\"data\":{\"active\":\"/bench/notes/a.md\",\"folder\":\"/bench/notes\","
    "\"tabs\":[\"/bench/notes/a.md\",\"/bench/notes/b.md\"]}}\n";
static const char kContext[] =
    ",\"ok\":true,\"data\":{\"active\":\"/bench/notes/a.md\",\"commands\":[\"file.openTodayNote\","
    "\"view.toggleSidebar\"],\"degraded\":false,\"folder\":\"/bench/notes\",\"selection\":{\"end\":12,"
    "\"start\":3},\"tabs\":[\"/bench/notes/a.md\",\"/bench/notes/b.md\"],\"version\":\"" ELMPAD_VERSION "\","
    "\"visibleHeading\":\"Plan\"}}\n";
static const char kOk[] = ",\"ok\":true}\n";

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

/* The text of "key":"…" in a request line, without its quotes. */
static const char *field(const char *line, const char *key, size_t *len) {
  const char *at = strstr(line, key);
  if (!at) return NULL;
  at += strlen(key);
  const char *end = strchr(at, '"');
  if (!end) return NULL;
  *len = (size_t)(end - at);
  return at;
}

static int answer(int fd, const char *line) {
  unsigned long long id = 0;
  const char *idp = strstr(line, "\"id\":");
  if (idp) id = strtoull(idp + 5, NULL, 10);
  char head[32];
  int hn = snprintf(head, sizeof head, "{\"id\":%llu", id);
  size_t n = 0;
  const char *cmd = field(line, "\"cmd\":\"", &n);
  const char *rest = kOk;
  size_t rest_n = sizeof kOk - 1;
  if (cmd && n == 14 && memcmp(cmd, "attach_session", n) == 0) {
    rest = kAttach, rest_n = sizeof kAttach - 1;
  } else if (cmd && n == 6 && memcmp(cmd, "status", n) == 0) {
    rest = kStatus, rest_n = sizeof kStatus - 1;
  } else if (cmd && n == 11 && memcmp(cmd, "get_context", n) == 0) {
    rest = kContext, rest_n = sizeof kContext - 1;
  } else if (cmd && n == 12 && memcmp(cmd, "read_section", n) == 0) {
    size_t pn = 0;
    const char *path = field(line, "\"path\":\"", &pn);
    const char *num = path ? strstr(path, "section-") : NULL;
    const struct buf *b = section_for(num ? strtoull(num + 8, NULL, 10) : 1024);
    if (b) rest = b->p, rest_n = b->n;
  }
  if (write_all(fd, head, (size_t)hn) != 0) return -1;
  return write_all(fd, rest, rest_n);
}

/* One client connection: its unanswered bytes. */
struct conn {
  int fd;
  size_t n;
  char in[65536];
};

/* Answers every complete line in c->in; -1 when the connection is done. */
static int serve(struct conn *c) {
  ssize_t r = read(c->fd, c->in + c->n, sizeof c->in - 1 - c->n);
  if (r < 0 && errno == EINTR) return 0;
  if (r <= 0) return -1;
  c->n += (size_t)r;
  char *start = c->in, *nl;
  while ((nl = memchr(start, '\n', c->n - (size_t)(start - c->in))) != NULL) {
    *nl = '\0';
    if (answer(c->fd, start) != 0) return -1;
    start = nl + 1;
  }
  c->n -= (size_t)(start - c->in);
  memmove(c->in, start, c->n);
  return c->n == sizeof c->in - 1 ? -1 : 0; /* a request longer than the buffer: not ours */
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_app SOCKET_PATH [SECTION_BYTES...]\n");
    return 2;
  }
  struct sockaddr_un addr = {0};
  addr.sun_family = AF_UNIX;
  if (strlen(argv[1]) >= sizeof addr.sun_path) {
    fprintf(stderr, "bench_app: socket path too long\n");
    return 1;
  }
  strcpy(addr.sun_path, argv[1]);
  unlink(argv[1]);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  if (s < 0 || bind(s, (struct sockaddr *)&addr, sizeof addr) != 0 || listen(s, 64) != 0) {
    perror("bench_app");
    return 1;
  }
  /* Builds the sections named on the command line before saying so. */
  for (int i = 2; i < argc; ++i) section_for(strtoull(argv[i], NULL, 10));
  /* Signals readiness to the driver on standard output. */
  if (write_all(1, "ready\n", 6) != 0) return 1;

  /* One thread and poll: no thread to start per connection, so the
   * application adds as little as it can to every round trip. */
  enum { kMaxConns = 256 };
  static struct pollfd fds[kMaxConns + 1];
  static struct conn *conns[kMaxConns + 1];
  nfds_t count = 1;
  fds[0].fd = s;
  fds[0].events = POLLIN;
  for (;;) {
    if (poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      perror("bench_app: poll");
      return 1;
    }
    for (nfds_t i = count; i-- > 1;) {
      if (!fds[i].revents) continue;
      if (serve(conns[i]) != 0) {
        close(fds[i].fd);
        free(conns[i]);
        fds[i] = fds[count - 1];
        conns[i] = conns[count - 1];
        --count;
      }
    }
    if (fds[0].revents & POLLIN) {
      int c = accept(s, NULL, NULL);
      if (c < 0) continue;
      if (count == kMaxConns + 1) {
        close(c);
        continue;
      }
      conns[count] = calloc(1, sizeof(struct conn));
      if (!conns[count]) abort();
      conns[count]->fd = c;
      fds[count].fd = c;
      fds[count].events = POLLIN;
      fds[count].revents = 0;
      ++count;
    }
  }
}
