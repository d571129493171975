// How a failure is carried: RunErr, the tool's one failure value, carried up
// to the front end that prints it in Result<T>; below it, a system call's
// errno in SysResult<T>, which its caller turns into a RunErr or acts on.
// Both make a dropped failure a compiler warning.
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

/// The value of a system-level step, or the errno of its failure.
template <class T>
class [[nodiscard]] SysResult : public std::expected<T, int> {
 public:
  using std::expected<T, int>::expected;
  SysResult(std::expected<T, int>&& other) : std::expected<T, int>(std::move(other)) {}
};

/// The failure of a system-level step: `std::unexpected(errno)` as a value.
inline std::unexpected<int> sys_fail(int err) { return std::unexpected(err); }

inline std::unexpected<RunErr> fail_with(std::string code, std::string message) {
  return std::unexpected(RunErr{std::move(code), std::move(message)});
}

}  // namespace elmpad
