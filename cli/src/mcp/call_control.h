// How a blocking tool call hands its app connection to whoever may cancel
// it, and learns afterwards whether they did: the main loop's in-flight
// record for a call the client waits on, a task's own record for a call
// running in the background.
#pragma once

namespace elmpad::mcp {

class CallControl {
 public:
  virtual ~CallControl() = default;
  /// The call has connected to the app and is about to send: `socket` may
  /// from now on be shut down to end it. False when the call is already
  /// cancelled: it then sends nothing.
  virtual bool offer(int socket) = 0;
  /// Whether the call was cancelled; asked once its exchange has ended.
  [[nodiscard]] virtual bool cancelled() = 0;
};

}  // namespace elmpad::mcp
