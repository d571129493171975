// Shared by the fuzz targets: a failed invariant aborts (so libFuzzer keeps
// the input), inputs split into lines, and an application in this process
// that answers from a script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace elmpad::fuzz {

/// Aborts with `what` when `ok` is false.
void check(bool ok, const char* what);

std::string_view as_text(const std::uint8_t* data, std::size_t size);

/// The pieces of `text` up to and including each "\n" (the last may lack it).
std::vector<std::string_view> split_lines(std::string_view text);

/// A descriptor that reads `bytes` and then the end of the stream.
int stream_of(std::string_view bytes);

/// Serves the application's socket under a private HOME (set as $HOME) on a
/// thread of this process. Each connection gets its first request line
/// read, then the next scripted answer (raw bytes; {"id":1,"ok":true} once
/// the script is used up) and is hung up on, so no exchange can block.
class ScriptedApp {
 public:
  ScriptedApp();
  /// The answers for the connections to come, replacing what was left.
  void script(std::vector<std::string> answers);

 private:
  void serve();
  int listen_fd_ = -1;
  std::mutex mu_;
  std::deque<std::string> answers_;  // guarded by mu_
};

}  // namespace elmpad::fuzz
