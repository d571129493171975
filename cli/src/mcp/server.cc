#include "mcp/server.h"

#include "cli/output.h"

namespace elmpad::mcp {

int run() {
  print_err("elmpad: mcp is not implemented yet\n");
  return 1;
}

}  // namespace elmpad::mcp
