// Small helpers every test folder shares.
#pragma once

#include <chrono>
#include <thread>

namespace elmpad::testing {

/// Waits until `probe()` holds; false after the hang guard. Tests wait for the
/// event itself this way, never for a fixed time.
template <class Probe>
bool eventually(Probe probe, std::chrono::seconds limit = std::chrono::seconds(30)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!probe()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace elmpad::testing
