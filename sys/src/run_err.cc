#include "run_err.h"

#include <cstring>

namespace elmpad {

RunErr RunErr::from_errno(std::string code, int err) {
  return RunErr{std::move(code), std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")"};
}

}  // namespace elmpad
