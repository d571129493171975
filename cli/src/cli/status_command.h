// `elmpad status`: one request to a running application; never launches it.
#pragma once

#include "json_text.h"

namespace elmpad {

/// Returns the exit status (0, or 1 on failure).
int status_command(bool json_output);

/// The human form: the running line, then folder, active and tabs when the
/// value holds them as strings.
void print_status_human(const json& status);

}  // namespace elmpad
