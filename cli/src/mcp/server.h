// `elmpad mcp`: a Model Context Protocol server on standard input and output.
#pragma once

namespace elmpad::mcp {

/// Serves until standard input ends or standard output fails, when the
/// process exits 0 from whichever of its two threads saw it. Returns only
/// when the second thread cannot be started: the exit status, 1.
int run();

}  // namespace elmpad::mcp
