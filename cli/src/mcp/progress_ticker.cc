#include "mcp/progress_ticker.h"

#include <charconv>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "mcp/spliced_text.h"

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

std::string waiting_message(const ProgressPlan& plan, std::uint64_t seconds) {
  return "waiting for " + plan.waiting_for + ": " + std::to_string(seconds) + " of " +
         std::to_string(plan.total_seconds) + " s";
}

std::string progress_line(const RequestId& token, std::uint64_t ticks, std::chrono::milliseconds interval,
                          const ProgressPlan& plan) {
  const std::uint64_t ms = ticks * static_cast<std::uint64_t>(interval.count());
  std::string seconds = std::to_string(ms / 1000);
  if (std::uint64_t rest = ms % 1000; rest != 0) {
    std::string fraction = std::to_string(1000 + rest).substr(1);  // three digits
    seconds += "." + fraction.substr(0, fraction.find_last_not_of('0') + 1);
  }
  ObjectText params;
  params.set("message", compact(json(waiting_message(plan, ms / 1000))))
      .set("progress", seconds)
      .set("progressToken", token.text())
      .set("total", std::to_string(plan.total_seconds));
  ObjectText line;
  line.set("jsonrpc", R"("2.0")").set("method", R"("notifications/progress")").set("params", std::move(params).text());
  return std::move(line).text().text();
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
