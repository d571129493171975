// Storage kept from one long line for the next: mapping fresh pages for a
// 16 MiB answer, which the system zeroes first, costs as much as reading it.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace elmpad {

inline constexpr std::size_t kMaxSpareLine = 64 * 1024 * 1024;

/// At most one string's storage, taken and given back by any thread. Its
/// owner decides who shares it; nothing draws on it unasked.
class SpareLine {
 public:
  /// The storage of the largest line given back since the last take, or an
  /// empty string.
  [[nodiscard]] std::string take();
  /// Keeps `line`'s storage, emptied, if it is larger than the one kept;
  /// storage larger than kMaxSpareLine, or smaller than a reader's buffer,
  /// is let go.
  void give_back(std::string line);

 private:
  std::mutex mu_;     // held only to swap strings
  std::string line_;  // guarded by mu_
};

}  // namespace elmpad
