#include "mcp/progress_ticker.h"

#include <charconv>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace elmpad::mcp {

std::chrono::milliseconds progress_interval() {
  using std::chrono::milliseconds;
  constexpr milliseconds kDefault{5000};
  constexpr milliseconds kLongest{10000};
  const char* text = std::getenv("ELMPAD_PROGRESS_INTERVAL_MS");
  if (text == nullptr) return kDefault;
  std::string_view view(text);
  long long ms = 0;
  auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), ms);
  if (ec != std::errc() || end != view.data() + view.size() || ms <= 0) return kDefault;
  return ms > kLongest.count() ? kLongest : milliseconds(ms);
}

std::string progress_line(const RequestId& token, std::uint64_t progress) {
  return R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"progress":)" + std::to_string(progress) +
         R"(,"progressToken":)" + token.text() + "}}";
}

ProgressTicker::ProgressTicker(std::chrono::milliseconds interval, std::function<bool(std::uint64_t)> emit)
    : interval_(interval), emit_(std::move(emit)) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No thread, no progress: the call itself goes on.
  }
}

void ProgressTicker::stop() {
  {
    std::lock_guard lock(mu_);
    stopped_ = true;
  }
  stopping_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void ProgressTicker::run() {
  std::unique_lock lock(mu_);
  for (std::uint64_t n = 1;; ++n) {
    if (stopping_.wait_for(lock, interval_, [this] { return stopped_; })) return;
    // Emitted under the lock: stop() waits for a notification being written.
    if (!emit_(n)) return;
  }
}

}  // namespace elmpad::mcp
