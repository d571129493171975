#include "mcp/progress_ticker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

namespace elmpad::mcp {
namespace {

using std::chrono::milliseconds;

TEST(ProgressTicker, CountsUpFromOne) {
  std::mutex mu;
  std::condition_variable seen;
  std::vector<std::uint64_t> emitted;  // guarded by mu
  {
    ProgressTicker ticker(milliseconds(1), [&](std::uint64_t n) {
      std::lock_guard lock(mu);
      emitted.push_back(n);
      seen.notify_one();
      return true;
    });
    std::unique_lock lock(mu);
    seen.wait(lock, [&] { return emitted.size() >= 3; });
    lock.unlock();
    ticker.stop();
  }
  for (std::size_t i = 0; i < emitted.size(); ++i) EXPECT_EQ(emitted[i], i + 1);
}

TEST(ProgressTicker, StopsWhenEmittingFailsAndBeforeTheFirstTick) {
  std::atomic<int> calls = 0;
  ProgressTicker failing(milliseconds(1), [&](std::uint64_t) {
    ++calls;
    return false;
  });
  // A ticker an hour apart is stopped at once, having emitted nothing.
  ProgressTicker slow(std::chrono::hours(1), [&](std::uint64_t) {
    ADD_FAILURE() << "emitted";
    return true;
  });
  slow.stop();
  while (calls.load() == 0) std::this_thread::yield();
  failing.stop();
  EXPECT_EQ(calls.load(), 1);
}

// Progress counts the seconds waited, with a fraction only where the
// interval is not whole seconds, so that it rises with every notification;
// the token is echoed as written, whatever its size.
TEST(ProgressTicker, LinesSayTheSecondsWaitedOfTheTotal) {
  const ProgressPlan change{120, "a change"};
  EXPECT_EQ(progress_line(RequestId(json("p-1")), 3, milliseconds(5000), change),
            R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"message":"waiting for a change: 15 of 120 s","progress":15,"progressToken":"p-1","total":120}})");
  std::string line = R"({"t":123456789012345678901234567890})";
  auto index = JsonIndex::scan(line);
  EXPECT_EQ(progress_line(request_id_at(line, *index, *index->member(line, JsonIndex::kRoot, "t")), 11,
                          milliseconds(250), {30, "a message"}),
            R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"message":"waiting for a message: 2 of 30 s","progress":2.75,"progressToken":123456789012345678901234567890,"total":30}})");
  EXPECT_EQ(progress_line(RequestId(json(1)), 1, milliseconds(5), change).find(R"("progress":0.005,)") != std::string::npos,
            true);
}

TEST(ProgressTicker, IntervalIsFiveSecondsAtMostTenAndTestsMayShortenIt) {
  ::unsetenv("ELMPAD_PROGRESS_INTERVAL_MS");
  EXPECT_EQ(progress_interval(), milliseconds(5000));
  for (auto [text, want] : std::vector<std::pair<const char*, long>>{
           {"20", 20}, {"60000", 10000}, {"0", 5000}, {"-3", 5000}, {"1x", 5000}, {"", 5000}}) {
    ::setenv("ELMPAD_PROGRESS_INTERVAL_MS", text, 1);
    EXPECT_EQ(progress_interval(), milliseconds(want)) << text;
  }
  ::unsetenv("ELMPAD_PROGRESS_INTERVAL_MS");
}

}  // namespace
}  // namespace elmpad::mcp
