// Attachment to the application's agent session, which every tool request
// then names.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "unique_fd.h"

namespace elmpad::mcp {

/// The session the application granted; 0 while not attached. Written once,
/// under the SESSION_CONN lock; read without it.
extern std::atomic<std::uint64_t> SESSION_ID;

/// The connection over which the session was granted. The session lasts
/// while it stays open, so it is kept until the process ends.
struct SessionConn {
  std::mutex mu;  // held for a whole attempt, never with another lock
  UniqueFd socket;  // guarded by mu
};
extern SessionConn& SESSION_CONN;

/// One attempt at attaching, unless already attached. Silent: any failure
/// leaves SESSION_ID at 0 and no connection open. Either server thread may
/// call it; an attempt costs at most two seconds, however slowly the
/// application answers.
void ensure_session();

/// An attach answer is one short line: a longer one is no answer.
inline constexpr std::size_t kMaxAttachAnswer = 64 * 1024;

/// SESSION_ID as a request's "session" member: absent while it is 0.
[[nodiscard]] std::optional<std::uint64_t> request_session();

}  // namespace elmpad::mcp
