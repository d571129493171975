// The unbounded queue between the reader thread (the only sender) and the
// main loop (the only receiver). Sending never blocks; nothing is dropped.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace elmpad::mcp {

class LineQueue {
 public:
  void push(std::string line) {
    {
      std::lock_guard lock(mu_);
      lines_.push_back(std::move(line));
    }
    ready_.notify_one();
  }

  /// Blocks until a line is there.
  std::string pop() {
    std::unique_lock lock(mu_);
    ready_.wait(lock, [this] { return !lines_.empty(); });
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }

 private:
  std::mutex mu_;
  std::condition_variable ready_;
  std::deque<std::string> lines_;  // guarded by mu_
};

}  // namespace elmpad::mcp
