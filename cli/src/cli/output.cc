#include "cli/output.h"

#include <unistd.h>

#include "app/unique_fd.h"

namespace elmpad {

json success_envelope(json data) { return json{{"data", std::move(data)}, {"ok", true}}; }

void fail(bool json_output, const RunErr& err) {
  if (json_output) {
    print_out(compact(error_envelope(err)) + "\n");
  } else {
    print_err("elmpad: " + err.message + "\n");
  }
}

void print_success(json data) { print_out(compact(success_envelope(std::move(data))) + "\n"); }

namespace {
int first_stdout_error = 0;  // main thread only
}  // namespace

void print_out(std::string_view text) {
  auto written = write_all(STDOUT_FILENO, text);
  if (!written && first_stdout_error == 0) first_stdout_error = written.error();
}

int stdout_error() { return first_stdout_error; }
void print_err(std::string_view text) { (void)write_all(STDERR_FILENO, text); }

}  // namespace elmpad
