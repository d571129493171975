// The benchmark: elmpad beside its floor (bench/floor_mcp.c, floor_status.c)
// against a fast fake application (bench/bench_app.c), both servers driven
// in one interleaved run, then how cost grows with the answer's size and, in
// the headless app, with the number of headings in a note. Prints numbers;
// asserts nothing. See bench/README.md for what a reading means.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sched.h>
#include <set>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "elmpad_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) die("write");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Reads lines from a descriptor in large pieces into a buffer that is kept
// (and never zero-filled), so the driver's own work stays small beside what
// it measures.
class Lines {
 public:
  explicit Lines(int fd) : fd_(fd) {}
  /// The next line without its "\n", valid until the next call; nullopt at
  /// end of stream.
  std::optional<std::string_view> next() {
    if (begin_ > 0) {
      std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    std::size_t scanned = 0;
    while (true) {
      if (auto* nl = static_cast<char*>(std::memchr(buf_.get() + scanned, '\n', end_ - scanned))) {
        std::size_t len = static_cast<std::size_t>(nl - buf_.get());
        begin_ = len + 1;
        return std::string_view(buf_.get(), len);
      }
      scanned = end_;
      if (cap_ - end_ < (1 << 20)) {
        std::size_t cap = std::max<std::size_t>(2 * cap_, 4 << 20);
        std::unique_ptr<char[]> bigger(new char[cap]);
        if (end_ > 0) std::memcpy(bigger.get(), buf_.get(), end_);
        buf_ = std::move(bigger);
        cap_ = cap;
      }
      ssize_t n;
      do {
        n = ::read(fd_, buf_.get() + end_, cap_ - end_);
      } while (n < 0 && errno == EINTR);
      if (n < 0) die("read");
      if (n == 0) {
        if (end_ == 0) return std::nullopt;
        begin_ = end_;
        return std::string_view(buf_.get(), end_);
      }
      end_ += static_cast<std::size_t>(n);
    }
  }

 private:
  int fd_;
  std::unique_ptr<char[]> buf_;
  std::size_t cap_ = 0, begin_ = 0, end_ = 0;
};

struct Usage {
  double cpu_ms = 0;    // user + system
  double peak_mib = 0;  // peak resident set
};

Usage usage_of(const rusage& ru) {
  auto ms = [](const timeval& tv) { return tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0; };
#ifdef __APPLE__
  double peak = ru.ru_maxrss / (1024.0 * 1024.0);  // bytes
#else
  double peak = ru.ru_maxrss / 1024.0;  // KiB
#endif
  return {ms(ru.ru_utime) + ms(ru.ru_stime), peak};
}

// A child process with pipes on its standard input and output.
class Proc {
 public:
  Proc(const std::vector<std::string>& argv, const std::vector<std::string>& env, bool keep_stdout = true) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) die("pipe");
    // Close-on-exec: another child must not hold this one's pipes open.
    for (int fd : {in[0], in[1], out[0], out[1]}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    if (keep_stdout) posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    else posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), envp.data()) != 0) die("spawn " + argv[0]);
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    out_ = out[0];
    lines_.emplace(out_);
  }
  ~Proc() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      finish();
    }
  }
  Proc(const Proc&) = delete;
  Proc& operator=(const Proc&) = delete;

  void send(std::string_view bytes) { write_all(in_, bytes); }
  std::string_view line() {
    auto l = lines_->next();
    if (!l) {
      std::fprintf(stderr, "elmpad_bench: %s ended early\n", name_.c_str());
      std::exit(1);
    }
    return *l;
  }
  /// Closes standard input, drains the output and reaps the process.
  Usage finish() {
    double peak = peak_mib();
    if (in_ >= 0) ::close(std::exchange(in_, -1));
    while (lines_ && lines_->next()) {
    }
    if (out_ >= 0) ::close(std::exchange(out_, -1));
    rusage ru{};
    int status = 0;
    while (::wait4(pid_, &status, 0, &ru) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    Usage u = usage_of(ru);
    if (peak > 0) u.peak_mib = peak;
    return u;
  }

  /// The peak resident memory so far, where the system shows it (Linux).
  /// The exit status's figure is no use there: a process started by
  /// posix_spawn inherits the driver's peak at exec.
  double peak_mib() const {
    std::string path = "/proc/" + std::to_string(pid_) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return 0;
    char line[256];
    double kib = 0;
    while (std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atof(line + 6);
    }
    std::fclose(f);
    return kib / 1024;
  }
  void set_name(std::string name) { name_ = std::move(name); }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::optional<Lines> lines_;
  std::string name_ = "a server";
};

struct Stats {
  double median = 0, p99 = 0;
};

Stats stats(std::vector<double> v) {
  if (v.empty()) return {};
  std::sort(v.begin(), v.end());
  std::size_t rank = static_cast<std::size_t>(std::ceil(0.99 * v.size()));
  return {v[v.size() / 2], v[std::max<std::size_t>(rank, 1) - 1]};
}

struct Setup {
  std::string elmpad, floor_mcp, floor_status, bench_app, headless;
  std::string compare;  // another elmpad build to run in the floor's place
  std::string home;     // the fake application's HOME
  std::vector<std::string> env;
  bool quick = false;
  bool placed = true;  // the round trips' client on a core of its own
  std::set<std::string> only;
  bool wants(const std::string& phase) const { return only.empty() || only.contains(phase); }
  int reps(int full) const { return quick ? std::max(3, full / 10) : full; }
};

// The client on a core of its own, the servers on the others (Linux, two
// cores or more): an MCP client is a process of its own, busy elsewhere.
// Left free, a pair of processes that the scheduler puts on one core answers
// faster than a pair on two, and on a two-core virtual machine which of the
// two each server gets decides a small round trip's ratio more than the
// server's own work does. Servers started while this is alive inherit the
// other cores; take_own_core then moves the driver to its own.
class ClientOnItsOwnCore {
 public:
  explicit ClientOnItsOwnCore(bool wanted) {
#ifdef __linux__
    if (!wanted || sched_getaffinity(0, sizeof saved_, &saved_) != 0 || CPU_COUNT(&saved_) < 2) return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (!CPU_ISSET(cpu, &saved_)) continue;
      if (own_ < 0) own_ = cpu;
      else CPU_SET(cpu, &others_);
    }
    active_ = sched_setaffinity(0, sizeof others_, &others_) == 0;
#else
    (void)wanted;
#endif
  }
  void take_own_core() {
#ifdef __linux__
    if (!active_) return;
    cpu_set_t own;
    CPU_ZERO(&own);
    CPU_SET(own_, &own);
    (void)sched_setaffinity(0, sizeof own, &own);
#endif
  }
  ~ClientOnItsOwnCore() {
#ifdef __linux__
    if (active_) (void)sched_setaffinity(0, sizeof saved_, &saved_);
#endif
  }
  ClientOnItsOwnCore(const ClientOnItsOwnCore&) = delete;
  ClientOnItsOwnCore& operator=(const ClientOnItsOwnCore&) = delete;

 private:
#ifdef __linux__
  cpu_set_t saved_{}, others_{};
  int own_ = -1;
  bool active_ = false;
#endif
};

// One server under test: its command line and its name in the table.
struct Server {
  std::string name;
  std::vector<std::string> argv;
};

std::string request(int id, std::string_view method, std::string_view params = "") {
  std::string line = "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) + ",\"method\":\"" + std::string(method) + "\"";
  if (!params.empty()) line += ",\"params\":" + std::string(params);
  return line + "}\n";
}

const std::string kInitialize = request(
    0, "initialize",
    R"({"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"elmpad-bench","version":"1"}})");

std::string tool_call(int id, std::string_view name, std::string_view arguments) {
  return request(id, "tools/call", "{\"name\":\"" + std::string(name) + "\",\"arguments\":" + std::string(arguments) + "}");
}

std::string section_path(std::size_t bytes) { return "/bench/section-" + std::to_string(bytes) + ".md"; }

std::string read_section_call(int id, std::size_t bytes) {
  return tool_call(id, "read_section", "{\"path\":\"" + section_path(bytes) + "\",\"heading\":\"Big\"}");
}

// A row of the main table.
struct Row {
  std::string path, unit;
  Stats elmpad, floor;
  std::string target;
};

void print_rows(const std::vector<Row>& rows) {
  std::printf("\n%-34s %12s %12s %12s %12s %8s %8s  %s\n", "path", "elmpad med", "elmpad p99", "floor med",
              "floor p99", "ratio", "p99 rat", "target");
  for (const auto& r : rows) {
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("%-34s %9.3f %-2s %9.3f %-2s %9.3f %-2s %9.3f %-2s %7.2fx %7.2fx  %s\n", r.path.c_str(), r.elmpad.median,
                r.unit.c_str(), r.elmpad.p99, r.unit.c_str(), r.floor.median, r.unit.c_str(), r.floor.p99,
                r.unit.c_str(), ratio(r.elmpad.median, r.floor.median), ratio(r.elmpad.p99, r.floor.p99),
                r.target.c_str());
  }
  std::fflush(stdout);
}

// Start to first answer: a fresh process, one initialize, its reply. Also
// the CPU a start costs, which the per-call figures subtract.
std::vector<Row> bench_startup(const Setup& s, const Server& e, const Server& f, Usage& e_start, Usage& f_start) {
  std::vector<double> wall[2], cpu[2];
  for (int i = 0; i < s.reps(200); ++i) {
    for (int k = 0; k < 2; ++k) {
      const Server& server = k == 0 ? e : f;
      auto t0 = Clock::now();
      Proc p(server.argv, s.env);
      p.send(kInitialize);
      (void)p.line();
      wall[k].push_back(ms_since(t0));
      cpu[k].push_back(p.finish().cpu_ms);
    }
  }
  e_start.cpu_ms = stats(cpu[0]).median;
  f_start.cpu_ms = stats(cpu[1]).median;
  return {{"start to first answer (initialize)", "ms", stats(wall[0]), stats(wall[1]), "<= 1.5x"},
          {"  CPU of that process", "ms", stats(cpu[0]), stats(cpu[1]), ""}};
}

// Round trips of one method on a live process of each server, alternating
// between them; CPU per call from the processes' totals less a start's.
std::vector<Row> bench_calls(const Setup& s, const Server& e, const Server& f, const std::string& label,
                             const std::function<std::string(int)>& make, int calls, const Usage& e_start,
                             const Usage& f_start, const std::string& target, bool cpu_row) {
  ClientOnItsOwnCore placement(s.placed);
  Proc pe(e.argv, s.env), pf(f.argv, s.env);
  placement.take_own_core();
  pe.set_name(e.name);
  pf.set_name(f.name);
  for (Proc* p : {&pe, &pf}) {
    p->send(kInitialize);
    (void)p->line();
  }
  std::vector<double> wall[2];
  std::string first[2];
  for (int i = 0; i < calls; ++i) {
    for (int k = 0; k < 2; ++k) {
      Proc& p = k == 0 ? pe : pf;
      std::string line = make(i + 1);
      auto t0 = Clock::now();
      p.send(line);
      std::string_view reply = p.line();
      wall[k].push_back(ms_since(t0));
      if (i == 0) first[k] = std::string(reply);
    }
  }
  if (first[0].size() != first[1].size()) {
    std::printf("note: %s replies differ in size (elmpad %zu bytes, floor %zu bytes)\n", label.c_str(),
                first[0].size(), first[1].size());
  }
  Usage ue = pe.finish(), uf = pf.finish();
  std::vector<Row> rows{{label + " round trip", "ms", stats(wall[0]), stats(wall[1]), target}};
  if (cpu_row) {
    double ce = (ue.cpu_ms - e_start.cpu_ms) / calls * 1000, cf = (uf.cpu_ms - f_start.cpu_ms) / calls * 1000;
    rows.push_back({"  server CPU per call", "us", {ce, ce}, {cf, cf}, ""});
  }
  return rows;
}

// Answers of `bytes` through both servers: sessions of a few calls each, so
// that every session's peak resident memory is one sample.
struct SectionRun {
  Stats time[2], peak[2];
};

SectionRun bench_section(const Setup& s, const Server& e, const Server& f, std::size_t bytes, int sessions,
                         int calls) {
  std::vector<double> time[2], peak[2];
  int id = 1;
  for (int round = 0; round < sessions; ++round) {
    ClientOnItsOwnCore placement(s.placed);
    Proc pe(e.argv, s.env), pf(f.argv, s.env);
    placement.take_own_core();
    for (Proc* p : {&pe, &pf}) {
      p->send(kInitialize);
      (void)p->line();
    }
    for (int i = 0; i < calls; ++i) {
      for (int k = 0; k < 2; ++k) {
        Proc& p = k == 0 ? pe : pf;
        std::string line = read_section_call(id++, bytes);
        auto t0 = Clock::now();
        p.send(line);
        (void)p.line();
        time[k].push_back(ms_since(t0));
      }
    }
    peak[0].push_back(pe.finish().peak_mib);
    peak[1].push_back(pf.finish().peak_mib);
  }
  return {{stats(time[0]), stats(time[1])}, {stats(peak[0]), stats(peak[1])}};
}

std::vector<Row> bench_status(const Setup& s) {
  std::vector<double> wall[2], cpu[2];
  for (int i = 0; i < s.reps(300); ++i) {
    for (int k = 0; k < 2; ++k) {
      std::vector<std::string> argv = k == 0 ? std::vector<std::string>{s.elmpad, "status"}
                                             : std::vector<std::string>{s.floor_status};
      if (k == 1 && !s.compare.empty()) argv.push_back("status");
      auto t0 = Clock::now();
      Proc p(argv, s.env);
      Usage u = p.finish();
      wall[k].push_back(ms_since(t0));
      cpu[k].push_back(u.cpu_ms);
    }
  }
  return {{"elmpad status: whole process", "ms", stats(wall[0]), stats(wall[1]), ""},
          {"elmpad status: CPU per process", "ms", stats(cpu[0]), stats(cpu[1]), "<= 1.3x"}};
}

// ---- the headless app: cost against the number of headings -------------

class SocketClient {
 public:
  explicit SocketClient(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) die("connect " + path);
    lines_.emplace(fd_);
  }
  ~SocketClient() { ::close(fd_); }
  std::string ask(const std::string& line) {
    write_all(fd_, line);
    auto reply = lines_->next();
    if (!reply) die("headless app hung up");
    return std::string(*reply);
  }

 private:
  int fd_ = -1;
  std::optional<Lines> lines_;
};

std::string json_text(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool connectable(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

void bench_headless(const Setup& s, const std::string& home) {
  std::string sock = home + "/Library/Application Support/com.tarn.elmwrite/elmpad.sock";
  Proc app({s.headless}, {"HOME=" + home, "PATH=/usr/bin:/bin"}, false);
  for (int i = 0; i < 1000 && !connectable(sock); ++i) ::usleep(10000);
  if (!connectable(sock)) die("headless app did not start");

  std::printf("\nheadless app: median ms per request against the headings in the note\n");
  std::printf("%10s %10s %14s %14s %14s %14s\n", "headings", "note KiB", "read_section", "read (outline)",
              "write_section", "reveal");
  std::vector<double> prev;
  for (int headings : {10, 1000, 100000}) {
    std::string note = "# Note\n\nIntro text.\n\n";
    for (int i = 1; i <= headings; ++i) {
      note += "## Section " + std::to_string(i) + "\n\nSome text of section " + std::to_string(i) + ", with a line.\n\n";
    }
    std::string path = home + "/note-" + std::to_string(headings) + ".md";
    FILE* fp = std::fopen(path.c_str(), "w");
    if (!fp) die("write note");
    std::fwrite(note.data(), 1, note.size(), fp);
    std::fclose(fp);
    std::string heading = json_text("Section " + std::to_string(headings / 2 + 1));
    std::string p = json_text(path);
    std::string reqs[] = {
        R"({"id":1,"proto":1,"cmd":"read_section","path":)" + p + R"(,"heading":)" + heading + "}\n",
        R"({"id":1,"proto":1,"cmd":"read_section","path":)" + p + "}\n",
        R"({"id":1,"proto":1,"cmd":"write_section","path":)" + p + R"(,"heading":)" + heading +
            R"(,"operation":"append","content":"one more line"})" + "\n",
        R"({"id":1,"proto":1,"cmd":"reveal","path":)" + p + R"(,"heading":)" + heading + "}\n",
    };
    std::vector<double> medians;
    for (const auto& req : reqs) {
      std::vector<double> t;
      auto start = Clock::now();
      for (int i = 0; i < 200 && (i < 5 || ms_since(start) < (s.quick ? 300 : 1500)); ++i) {
        SocketClient c(sock);
        auto t0 = Clock::now();
        std::string reply = c.ask(req);
        t.push_back(ms_since(t0));
        if (i == 0 && reply.find("\"ok\":true") == std::string::npos) {
          std::printf("note: headless answer was a refusal: %.200s\n", reply.c_str());
        }
      }
      medians.push_back(stats(t).median);
    }
    std::printf("%10d %10zu %14.3f %14.3f %14.3f %14.3f\n", headings, note.size() / 1024, medians[0], medians[1],
                medians[2], medians[3]);
    if (!prev.empty()) {
      std::printf("%10s %10s %13.1fx %13.1fx %13.1fx %13.1fx   (growth for 100x the headings)\n", "", "",
                  medians[0] / prev[0], medians[1] / prev[1], medians[2] / prev[2], medians[3] / prev[3]);
    }
    prev = medians;
  }
}

std::string make_temp_home() {
  char tmpl[] = "/tmp/elmpad-bench-XXXXXX";
  if (!::mkdtemp(tmpl)) die("mkdtemp");
  std::string home = tmpl;
  for (const char* sub : {"/Library", "/Library/Application Support", "/Library/Application Support/com.tarn.elmwrite"}) {
    ::mkdir((home + sub).c_str(), 0700);
  }
  return home;
}

}  // namespace

int main(int argc, char** argv) {
  Setup s;
  s.elmpad = ELMPAD_PATH;
  s.floor_mcp = FLOOR_MCP_PATH;
  s.floor_status = FLOOR_STATUS_PATH;
  s.bench_app = BENCH_APP_PATH;
  s.headless = HEADLESS_PATH;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--quick") s.quick = true;
    else if (a == "--free") s.placed = false;
    else if (a.starts_with("--elmpad=")) s.elmpad = std::string(a.substr(9));
    else if (a.starts_with("--compare=")) s.compare = std::string(a.substr(10));
    else if (a.starts_with("--only=")) {
      std::string list(a.substr(7));
      std::size_t from = 0;
      while (from <= list.size()) {
        auto comma = list.find(',', from);
        if (comma == std::string::npos) comma = list.size();
        s.only.insert(list.substr(from, comma - from));
        from = comma + 1;
      }
    } else {
      std::fprintf(stderr,
                   "usage: elmpad_bench [--quick] [--free] [--only=start,calls,section,status,scaling,headless]\n"
                   "                    [--elmpad=PATH] [--compare=PATH]\n");
      return 2;
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  s.home = make_temp_home();
  s.env = {"HOME=" + s.home, "PATH=/usr/bin:/bin"};
  std::string sock = s.home + "/Library/Application Support/com.tarn.elmwrite/elmpad.sock";
  constexpr std::size_t kKiB = 1024, kMiB = 1024 * 1024;
  std::vector<std::size_t> sizes = {kKiB, kMiB, 16 * kMiB, 64 * kMiB};
  // The application builds its answers before it says "ready", so no
  // timing includes building them.
  std::vector<std::string> app_argv = {s.bench_app, sock};
  for (auto bytes : sizes) app_argv.push_back(std::to_string(bytes));
  Proc app(app_argv, {}, true);
  app.set_name("bench_app");
  (void)app.line();

  Server e{"elmpad", {s.elmpad, "mcp"}}, f{"floor", {s.floor_mcp}};
  if (!s.compare.empty()) {
    f = {"compared", {s.compare, "mcp"}};
    s.floor_status = s.compare;  // run as `status` below
    std::printf("comparing with %s in the floor's columns\n", s.compare.c_str());
  }

  std::printf("elmpad beside its floor (medians and 99th percentiles; ratio = elmpad / floor)\n");
  std::printf("round trips and read_section: %s\n",
              s.placed ? "the client on a core of its own where there are two or more (--free: anywhere)"
                       : "the client and the servers anywhere");
  std::vector<Row> rows;
  Usage e_start, f_start;
  if (s.wants("start")) {
    auto r = bench_startup(s, e, f, e_start, f_start);
    rows.insert(rows.end(), r.begin(), r.end());
    print_rows(r);
  }
  if (s.wants("calls")) {
    int n = s.reps(3000);
    for (auto r : {bench_calls(s, e, f, "ping", [](int id) { return request(id, "ping"); }, n, e_start, f_start,
                               "<= 1.3x, p99 <= 2x", true),
                   bench_calls(s, e, f, "get_context",
                               [](int id) { return tool_call(id, "get_context", "{}"); }, n, e_start, f_start,
                               "<= 1.3x, p99 <= 2x", true),
                   bench_calls(s, e, f, "tools/list", [](int id) { return request(id, "tools/list"); }, n / 2,
                               e_start, f_start, "<= 2x", false)}) {
      rows.insert(rows.end(), r.begin(), r.end());
      print_rows(r);
    }
  }
  if (s.wants("section")) {
    auto run = bench_section(s, e, f, 16 * kMiB, s.quick ? 2 : 6, 4);
    std::vector<Row> r{{"read_section 16 MiB: time", "ms", run.time[0], run.time[1], "<= 1.5x"},
                       {"read_section 16 MiB: peak memory", "Mi", run.peak[0], run.peak[1], "<= 1.5x"}};
    rows.insert(rows.end(), r.begin(), r.end());
    print_rows(r);
  }
  if (s.wants("status")) {
    auto r = bench_status(s);
    rows.insert(rows.end(), r.begin(), r.end());
    print_rows(r);
  }
  if (rows.size() > 2) {
    std::printf("\nsummary");
    print_rows(rows);
  }

  if (s.wants("scaling")) {
    std::printf("\nread_section against the answer's size (medians; peak memory of a session)\n");
    std::printf("%10s %12s %12s %8s %12s %12s %8s %14s\n", "size", "elmpad ms", "floor ms", "ratio", "elmpad MiB",
                "floor MiB", "ratio", "elmpad ns/B");
    for (auto bytes : sizes) {
      int calls = bytes <= kKiB ? 200 : bytes <= kMiB ? 30 : bytes <= 16 * kMiB ? 4 : 2;
      auto run = bench_section(s, e, f, bytes, s.quick ? 1 : 2, s.quick ? std::max(1, calls / 4) : calls);
      std::string label = bytes >= kMiB ? std::to_string(bytes / kMiB) + " MiB" : std::to_string(bytes / kKiB) + " KiB";
      std::printf("%10s %12.3f %12.3f %7.2fx %12.1f %12.1f %7.2fx %14.2f\n", label.c_str(), run.time[0].median,
                  run.time[1].median, run.time[0].median / run.time[1].median, run.peak[0].median,
                  run.peak[1].median, run.peak[0].median / run.peak[1].median,
                  run.time[0].median * 1e6 / static_cast<double>(bytes));
      std::fflush(stdout);
    }
  }

  if (s.wants("headless")) {
    std::string home = make_temp_home();
    bench_headless(s, home);
    std::string rm = "rm -rf '" + home + "'";
    if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "elmpad_bench: could not remove %s\n", home.c_str());
  }
  std::string rm = "rm -rf '" + s.home + "'";
  if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "elmpad_bench: could not remove %s\n", s.home.c_str());
  return 0;
}
