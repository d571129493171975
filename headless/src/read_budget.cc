#include "read_budget.h"

namespace elmpad::headless {

ReadBudget::Share::~Share() {
  if (budget_) budget_->give_back(bytes_);
}

ReadBudget::Share ReadBudget::take(std::size_t bytes) {
  if (bytes < kSmallNoteBytes) return Share(nullptr, 0);
  std::unique_lock lock(mu_);
  // Alone, any note may be read, however large.
  room_.wait(lock, [&] { return held_ == 0 || held_ + bytes <= capacity_; });
  held_ += bytes;
  return Share(this, bytes);
}

void ReadBudget::give_back(std::size_t bytes) {
  {
    std::lock_guard lock(mu_);
    held_ -= bytes;
  }
  room_.notify_all();
}

}  // namespace elmpad::headless
