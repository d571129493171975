// The app's standard output: what a person watching it sees (sidebar lines,
// tab activity, answers to console commands). Whole lines, one at a time,
// from any thread.
#pragma once

#include <string_view>

namespace elmpad::headless {

/// Writes `line` and a line feed to standard output in one piece; a closed
/// standard output is ignored.
void print_line(std::string_view line);

}  // namespace elmpad::headless
