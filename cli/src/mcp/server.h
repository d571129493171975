// `elmpad mcp`: a Model Context Protocol server on standard input and output.
//
// Two threads, alike: the main thread and one it starts. Who owns what:
// - standard input: the one thread that holds it (it reads and acts on
//   cancellations); the holder hands it over before anything that may block.
// - standard output: the one thread answering a line, the only one writing;
//   while it runs a wait, the wait's progress ticker instead.
// - the queue of lines read while another is answered: both, under the
//   server's lock.
// - the in-flight record: set and cleared by the thread running a tool;
//   the thread holding standard input cancels through it.
// - the session: attached by the main thread before it answers anything,
//   then again by whichever thread runs a tool, under the session's lock.
#pragma once

namespace elmpad::mcp {

/// Serves until standard input ends or standard output fails, when the
/// process exits 0 from whichever of its two threads saw it. Returns only
/// when the second thread cannot be started: the exit status, 1.
[[nodiscard]] int run();

}  // namespace elmpad::mcp
