// `elmpad mcp`: a Model Context Protocol server on standard input and output.
//
// Two threads. Who owns what:
// - standard input: the reader thread, for the process's whole life; it acts
//   on cancellations as it reads, and queues every line.
// - standard output: the main loop, which answers the queued lines one at a
//   time; while it runs a wait, the wait's progress ticker instead.
// - the queue: the reader puts lines in, the main loop takes them out.
// - the in-flight record: set and cleared by the main loop around a tool
//   call; the reader cancels through it.
// - the session: attached by the main loop, before it answers anything and
//   again when a tool needs it.
#pragma once

namespace elmpad::mcp {

/// Serves until standard input ends, when the reader thread ends the process
/// with status 0, or standard output fails: then 0. 1 when the reader
/// thread cannot be started.
[[nodiscard]] int run();

}  // namespace elmpad::mcp
