// `elmpad status`: one request to a running application; never launches it.
#pragma once

#include "cli/command_result.h"

namespace elmpad {

/// What the app reports of itself, or that it is not running. As text: the
/// running line, then folder, active and tabs when the report holds them as
/// strings.
CommandResult show_status();

}  // namespace elmpad
