// A burst of clients that ask the headless app for a large note's section
// and hang up at once, without reading the answer. Prints the app's peak
// resident memory and CPU (from its exit status), whether another client
// is answered during the burst and how soon, and how long the app takes to
// be idle again. Prints numbers; asserts nothing. Linux-side tooling: the
// app's threads and CPU while it runs come from /proc.
//
//   burst [--clients=200] [--note-mib=16] [--app=PATH]
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "burst: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int connect_to(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One request, one answer line (its size); 0 when the app hung up.
std::size_t ask(const std::string& sock, const std::string& line) {
  int fd = connect_to(sock);
  if (fd < 0) return 0;
  std::size_t got = 0;
  if (write_all(fd, line)) {
    char buf[65536];
    while (true) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
      if (std::memchr(buf, '\n', static_cast<std::size_t>(n))) break;
    }
  }
  ::close(fd);
  return got;
}

std::string json_text(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void write_file(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) die("write " + path);
}

// What /proc shows of the running app: its threads and its CPU so far.
struct Sample {
  long threads = 0;
  double cpu_ms = 0;
  double rss_mib = 0;
};

Sample sample(pid_t pid) {
  Sample s;
  std::string base = "/proc/" + std::to_string(pid);
  if (FILE* f = std::fopen((base + "/status").c_str(), "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "Threads:", 8) == 0) s.threads = std::atol(line + 8);
      if (std::strncmp(line, "VmRSS:", 6) == 0) s.rss_mib = std::atof(line + 6) / 1024;
    }
    std::fclose(f);
  }
  if (FILE* f = std::fopen((base + "/stat").c_str(), "r")) {
    char buf[1024];
    std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    buf[n] = 0;
    std::fclose(f);
    // Fields after the command's closing parenthesis; utime and stime are
    // the 14th and 15th of the line.
    if (char* p = std::strrchr(buf, ')')) {
      unsigned long utime = 0, stime = 0;
      if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) == 2) {
        s.cpu_ms = static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
      }
    }
  }
  return s;
}

}  // namespace

extern char** environ;

int main(int argc, char** argv) {
  int clients = 200;
  std::size_t note_mib = 16;
  std::string app_path = HEADLESS_PATH;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a.starts_with("--clients=")) clients = std::atoi(argv[i] + 10);
    else if (a.starts_with("--note-mib=")) note_mib = std::strtoul(argv[i] + 11, nullptr, 10);
    else if (a.starts_with("--app=")) app_path = std::string(a.substr(6));
    else {
      std::fprintf(stderr, "usage: burst [--clients=N] [--note-mib=N] [--app=PATH]\n");
      return 2;
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  char tmpl[] = "/tmp/elmpad-burst-XXXXXX";
  if (!::mkdtemp(tmpl)) die("mkdtemp");
  const std::string home = tmpl;
  const std::string sock = home + "/Library/Application Support/com.tarn.elmwrite/elmpad.sock";

  // Started before the note is made: the app inherits the driver's peak
  // memory at exec, which is to stay small.
  int in[2];
  if (::pipe(in) != 0) die("pipe");
  ::fcntl(in[1], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  std::string home_env = "HOME=" + home;
  char* app_argv[] = {app_path.data(), nullptr};
  char* app_env[] = {home_env.data(), const_cast<char*>("PATH=/usr/bin:/bin"), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, app_path.c_str(), &fa, nullptr, app_argv, app_env) != 0) die("spawn " + app_path);
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  for (int i = 0; i < 1000; ++i) {
    if (int fd = connect_to(sock); fd >= 0) {
      ::close(fd);
      break;
    }
    ::usleep(10000);
  }

  const std::string big = home + "/big.md", small = home + "/small.md";
  {
    std::string note = "# Big\n";
    note.reserve(note_mib << 20);
    for (int i = 0; note.size() < (note_mib << 20); ++i) {
      note += "Line " + std::to_string(i) + " of the big note, with \"quotes\" and a tab\there.\n";
    }
    note.resize(note_mib << 20);
    note.back() = '\n';
    write_file(big, note);
  }
  write_file(small, "# Small\nA short note.\n");
  const std::string burst_req =
      R"({"id":1,"proto":1,"cmd":"read_section","path":)" + json_text(big) + R"(,"heading":"Big"})" "\n";
  const std::string probe_req =
      R"({"id":1,"proto":1,"cmd":"read_section","path":)" + json_text(small) + R"(,"heading":"Small"})" "\n";

  if (ask(sock, probe_req) == 0) die("the app does not answer");
  const Sample idle = sample(pid);

  // Another client, asking for a small note over and over while the burst
  // is served.
  std::atomic<bool> probing{true};
  std::atomic<int> answered{0}, unanswered{0};
  std::atomic<long> worst_us{0};
  std::thread prober([&] {
    while (probing) {
      auto t0 = Clock::now();
      bool ok = ask(sock, probe_req) > 0;
      long us = static_cast<long>(ms_since(t0) * 1000);
      (ok ? answered : unanswered)++;
      worst_us = std::max(worst_us.load(), us);
      ::usleep(20000);
    }
  });

  const auto start = Clock::now();
  int refused = 0;
  for (int c = 0; c < clients; ++c) {
    int fd = connect_to(sock);
    if (fd < 0) {
      ++refused;
      continue;
    }
    (void)write_all(fd, burst_req);
    ::close(fd);
  }
  const double sent_ms = ms_since(start);

  // Idle: the connection threads are gone and the CPU stands still.
  double idle_ms = -1, peak_seen = 0;
  Sample last = sample(pid);
  int still = 0;
  while (ms_since(start) < 120000) {
    ::usleep(50000);
    Sample now = sample(pid);
    peak_seen = std::max(peak_seen, now.rss_mib);
    // The prober's own connection may count one thread.
    bool quiet = now.threads <= idle.threads + 1 && now.cpu_ms - last.cpu_ms < 5;
    still = quiet ? still + 1 : 0;
    last = now;
    if (still == 4) {
      idle_ms = ms_since(start) - 200;
      break;
    }
  }
  probing = false;
  prober.join();

  ::kill(pid, SIGTERM);
  int status = 0;
  rusage ru{};
  while (::wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
  }
  auto ms = [](const timeval& tv) { return tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0; };
  std::printf("burst: %d clients, each a read_section of a %zu MiB note, hanging up at once (sent in %.0f ms, %d refused)\n",
              clients, note_mib, sent_ms, refused);
  std::printf("  app peak memory:   %.1f MiB (exit status), %.1f MiB seen while it ran\n", ru.ru_maxrss / 1024.0,
              peak_seen);
  std::printf("  app CPU:           %.2f s (user %.2f, system %.2f)\n", (ms(ru.ru_utime) + ms(ru.ru_stime)) / 1000,
              ms(ru.ru_utime) / 1000, ms(ru.ru_stime) / 1000);
  std::printf("  another client:    %d answered, %d not, slowest %.1f ms\n", answered.load(), unanswered.load(),
              static_cast<double>(worst_us.load()) / 1000);
  if (idle_ms >= 0) std::printf("  back to idle:      %.2f s after the burst began\n", idle_ms / 1000);
  else std::printf("  back to idle:      not within 120 s\n");
  std::string rm = "rm -rf '" + home + "'";
  if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "burst: could not remove %s\n", home.c_str());
  return 0;
}
