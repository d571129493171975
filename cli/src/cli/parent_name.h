// The name of the program that started elmpad, as the process list reports
// it, so that a program running `elmpad --wait` as its editor gets its own
// name on the tab.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace elmpad {

/// The label for `ps -o comm=` output: the trimmed text read as a path, its
/// last component; the whole trimmed text when it has none ("/", "x/..");
/// nothing when the text is empty. Bytes that are not UTF-8 become U+FFFD.
[[nodiscard]] std::optional<std::string> label_from_ps_output(std::string_view output);

/// Runs `ps -o comm= -p <parent pid>` from PATH and labels its output;
/// nothing when `ps` cannot be started.
[[nodiscard]] std::optional<std::string> parent_name();

}  // namespace elmpad
