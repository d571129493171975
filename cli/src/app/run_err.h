// RunErr: the tool's one failure value, carried up to the front end that
// prints it. Result<T> makes a dropped failure a compiler warning.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace elmpad {

struct RunErr {
  std::string code;     // upper snake case, e.g. "SOCKET_ERROR"
  std::string message;  // the sentence shown to a person

  /// "<system description> (os error N)".
  static RunErr from_errno(std::string code, int err);

  friend bool operator==(const RunErr&, const RunErr&) = default;
};

template <class T>
class [[nodiscard]] Result : public std::expected<T, RunErr> {
 public:
  using std::expected<T, RunErr>::expected;
  Result(std::expected<T, RunErr>&& other) : std::expected<T, RunErr>(std::move(other)) {}
};

inline std::unexpected<RunErr> fail_with(std::string code, std::string message) {
  return std::unexpected(RunErr{std::move(code), std::move(message)});
}

}  // namespace elmpad
