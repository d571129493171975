// A pipe that wakes a thread waiting in poll: any thread pokes it, the
// waiting thread polls its read end and drains it. Both ends are
// non-blocking: a full pipe already holds a wake-up, so nobody ever waits on
// the pipe itself.
#pragma once

#include "run_err.h"
#include "unique_fd.h"

namespace elmpad::headless {

class WakePipe {
 public:
  /// Both ends close-on-exec; the error names the failing call ("pipe: ...").
  static Result<WakePipe> make();
  /// No pipe: pokes and drains do nothing.
  WakePipe() = default;

  /// Readable from a poke until the next drain.
  int fd() const { return read_.get(); }
  /// Any thread.
  void poke();
  /// The polling thread; takes every pending wake-up.
  void drain();

 private:
  UniqueFd read_;
  UniqueFd write_;
};

}  // namespace elmpad::headless
