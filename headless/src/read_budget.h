// How much of the notes being read into answers the app holds at once. A
// large note costs several times its size while it is read, parsed and its
// answer built; many clients asking for one at the same moment would
// otherwise take all the machine's memory. Large reads wait for room here, a
// few at a time; small ones never wait.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace elmpad::headless {

/// Note bytes that reads may hold at once; a larger note is read alone.
inline constexpr std::size_t kReadBudgetBytes = 64u << 20;
/// Notes below this size are read without waiting: their answers are small.
inline constexpr std::size_t kSmallNoteBytes = 1u << 20;

class ReadBudget {
 public:
  class Share {
   public:
    Share(Share&& other) noexcept : budget_(other.budget_), bytes_(other.bytes_) { other.budget_ = nullptr; }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
    Share& operator=(Share&&) = delete;
    ~Share();

   private:
    friend class ReadBudget;
    Share(ReadBudget* budget, std::size_t bytes) : budget_(budget), bytes_(bytes) {}
    ReadBudget* budget_;  // null: nothing to give back
    std::size_t bytes_;
  };

  explicit ReadBudget(std::size_t capacity = kReadBudgetBytes) : capacity_(capacity) {}

  /// Room for reading a note of `bytes`, held until the share goes; waits
  /// while other reads hold too much.
  [[nodiscard]] Share take(std::size_t bytes);

 private:
  void give_back(std::size_t bytes);

  const std::size_t capacity_;
  std::mutex mu_;
  std::condition_variable room_;
  std::size_t held_ = 0;  // guarded by mu_
};

}  // namespace elmpad::headless
