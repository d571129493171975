// How the app words a failed system call in what it shows and answers: the
// call, a colon and the system's text ("bind /path: Permission denied").
#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "run_err.h"

namespace elmpad::headless {

inline RunErr sys_error(std::string code, std::string_view call, int err) {
  return RunErr{std::move(code), std::string(call) + ": " + std::strerror(err)};
}

}  // namespace elmpad::headless
