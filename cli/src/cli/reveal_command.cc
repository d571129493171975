#include "cli/reveal_command.h"

#include "cli/output.h"

namespace elmpad {

int reveal(const std::string&, const std::optional<std::string>&, bool json_output) {
  fail(json_output, RunErr{"NOT_IMPLEMENTED", "reveal is not implemented yet"});
  return 1;
}

}  // namespace elmpad
