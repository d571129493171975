#include "cli/open_command.h"

#include "cli/output.h"

namespace elmpad {

int open(const std::vector<std::string>&, bool, bool json_output, const std::optional<std::string>&) {
  fail(json_output, RunErr{"NOT_IMPLEMENTED", "open is not implemented yet"});
  return 1;
}

}  // namespace elmpad
