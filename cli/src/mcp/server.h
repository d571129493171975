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

#include <optional>
#include <string>

#include "line_reader.h"

namespace elmpad::mcp {

/// The next line of `input` without its line feed (and a carriage return
/// before it). Nothing at the end of input, on a failed read, or for a line
/// that is not UTF-8: each of them ends the server.
[[nodiscard]] std::optional<std::string> read_request_line(LineReader& input);

/// Serves until standard input ends, when the reader thread ends the process
/// with status 0, or standard output fails: then 0. 1 when the reader
/// thread cannot be started.
[[nodiscard]] int run();

}  // namespace elmpad::mcp
