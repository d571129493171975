// FakeApp stands in for the application in tests: it serves the socket under
// a test HOME, records every request line byte for byte, and answers from a
// script of raw lines, so it can also misbehave (invalid UTF-8, junk, events
// and other ids before the answer, hanging up, never answering).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace elmpad::testing {

/// What the fake does with one request.
struct Action {
  /// Raw bytes written back, each followed by "\n" unless `raw` is set. The
  /// text "{id}" is replaced by the request's id.
  std::vector<std::string> lines;
  bool raw = false;       // write `lines` exactly as given, no "\n" added
  bool hang_up = false;   // close the connection after writing `lines`
  bool hold = false;      // write `lines` only after release(), unless the client goes away first
  bool deaf = false;      // stop reading before answering (the client's next write fails), then hang up
  /// Written at once, before a hold begins.
  std::vector<std::string> before_hold;
};

class FakeApp {
 public:
  /// Binds <home>/Library/Application Support/com.tarn.elmwrite/elmpad.sock
  /// (creating the directory) and starts accepting on a thread. With `log`
  /// set, every request line is also appended to that file as it arrives.
  explicit FakeApp(std::string home, std::string log = "");
  ~FakeApp();  // stops every thread and removes the socket file

  /// Queues `action` for the next request whose cmd is `cmd`. Requests with
  /// no queued action get {"id":<id>,"ok":true}.
  void on(const std::string& cmd, Action action);
  /// Shorthand: answer the next `cmd` request with these lines.
  void reply(const std::string& cmd, std::vector<std::string> lines);
  /// Shorthand: read the next `cmd` request, then close without answering.
  void hang_up_on(const std::string& cmd);
  /// Shorthand: never answer the next `cmd` request (until release()).
  void hold(const std::string& cmd);
  /// Ends every hold, now and later: held requests get their lines written.
  void release();

  /// Every request line received, in order, exactly as sent (with "\n").
  std::vector<std::string> received() const;
  /// Blocks until at least `n` request lines arrived; false after `limit`.
  bool wait_for_requests(std::size_t n, std::chrono::seconds limit = std::chrono::seconds(30));
  /// Blocks until no connection is open; false after `limit`.
  bool wait_until_idle(std::chrono::seconds limit = std::chrono::seconds(30));
  std::size_t connections_open() const;

  const std::string& socket_path() const { return path_; }

 private:
  void accept_loop();
  void serve(int fd);
  bool wait_for_release(int fd);
  Action record_and_take_action(const std::string& line, const std::string& cmd);

  std::string path_;
  std::string log_;
  int listen_fd_ = -1;
  int stop_[2] = {-1, -1};     // written once on destruction
  int release_[2] = {-1, -1};  // written once by release()

  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::map<std::string, std::deque<Action>> script_;
  std::vector<std::string> received_;
  std::set<int> open_fds_;  // shut down on destruction, which ends their reads
  bool stopping_ = false;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace elmpad::testing
