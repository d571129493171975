#include "cli/output.h"

#include <string_view>
#include <unistd.h>

#include "app_client/error_envelope.h"
#include "unique_fd.h"

namespace elmpad {
namespace {

SysResult<void> print_out(std::string_view text) { return write_all(STDOUT_FILENO, text); }

// Failures to write to standard error are ignored: there is nowhere left to
// report them.
void print_err(std::string_view text) { (void)write_all(STDERR_FILENO, text); }

int render_failure(const Failure& failure, bool json_output) {
  if (json_output && failure.status != kExitMisuse) {
    // The exit status tells of the failure already.
    (void)print_out(compact(error_envelope(failure.err)) + "\n");
  } else {
    print_err("elmpad: " + failure.err.message + "\n");
  }
  return failure.status;
}

}  // namespace

int render(const CommandResult& result, bool json_output) {
  if (!result) return render_failure(result.error(), json_output);
  SysResult<void> written;
  if (json_output) {
    written = print_out(compact(json{{"data", result->data}, {"ok", true}}) + "\n");
  } else if (!result->text.empty()) {
    written = print_out(result->text);
  }
  // What the user asked for did not reach them (a full disk, a closed pipe):
  // that is no success, whatever the command itself achieved.
  if (result->status == 0 && !written) {
    print_err("elmpad: cannot write to standard output: " + RunErr::from_errno("", written.error()).message + "\n");
    return kExitFailed;
  }
  return result->status;
}

}  // namespace elmpad
