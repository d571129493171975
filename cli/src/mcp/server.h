// `elmpad mcp`: a Model Context Protocol server on standard input and output.
#pragma once

namespace elmpad::mcp {

/// Serves until standard input ends (the process then exits 0 from the
/// reader thread) or standard output fails; returns the exit status, 0.
int run();

}  // namespace elmpad::mcp
