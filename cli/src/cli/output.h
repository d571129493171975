// How the command line reports: failures as an "elmpad: " line on standard
// error or a JSON failure line on standard output, successes as a JSON
// envelope under --json.
#pragma once

#include <string_view>

#include "app/error_envelope.h"
#include "app/run_err.h"
#include "json_text.h"

namespace elmpad {

/// {"data":…,"ok":true}
json success_envelope(json data);

/// Reports `err` (text on standard error, or the JSON failure line on
/// standard output); the caller then exits 1.
void fail(bool json_output, const RunErr& err);

/// Prints the success envelope around `data` as one line on standard output.
void print_success(json data);

/// Writes `text` to standard output. A failed write is remembered for
/// stdout_error(): the front end must not report success for output that
/// never arrived.
void print_out(std::string_view text);
/// Writes `text` to standard error, ignoring failures (there is nowhere left
/// to report them).
void print_err(std::string_view text);

/// The errno of the first failed write to standard output, or 0.
int stdout_error();

}  // namespace elmpad
