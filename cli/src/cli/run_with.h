// The command line's dispatch: parse, answer help, version and misuse, hand
// every real command to its handler; the result is the exit status.
#pragma once

#include <string>
#include <vector>

namespace elmpad {

int run_with(const std::vector<std::string>& args);

}  // namespace elmpad
