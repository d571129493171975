// The two revisions of MCP the server speaks, and what each offers: every
// rule that differs between them is a member here, read where it applies.
#pragma once

#include <cstdint>
#include <string_view>

namespace elmpad::mcp {

struct Revision {
  /// A bit of its own, for the method table's "offered in" column.
  std::uint8_t bit;
  /// The version it answers for.
  std::string_view version;
  /// Every result says "resultType":"complete".
  bool marks_results;
  /// Its tools/list carries titles, annotations and output schemas, and a
  /// successful tool result carries its payload as "structuredContent" too.
  bool structured_tools;
  /// Wrong arguments are a tool result with "isError", which the model
  /// reads, rather than a protocol error; an unknown tool stays one.
  bool argument_errors_are_results;
  /// A cancelled request gets no reply and no further progress, and a
  /// cancellation read before its request ran is kept for it, so that the
  /// request does no work at all.
  bool cancellation_silences;
  /// It has the tasks extension: a long call from a client that declares it
  /// runs in the background, polled with tasks/get.
  bool offers_tasks;
};

/// The handshake era: initialize, then requests that name no revision.
inline constexpr Revision kHandshakeEra{.bit = 1,
                                        .version = "2025-06-18",
                                        .marks_results = false,
                                        .structured_tools = false,
                                        .argument_errors_are_results = false,
                                        .cancellation_silences = false,
                                        .offers_tasks = false};

/// The revision without a handshake: each request names it in its _meta.
inline constexpr Revision kRevision20260728{.bit = 2,
                                            .version = "2026-07-28",
                                            .marks_results = true,
                                            .structured_tools = true,
                                            .argument_errors_are_results = true,
                                            .cancellation_silences = true,
                                            .offers_tasks = true};

/// The tasks extension, as a request's capabilities and discovery name it.
inline constexpr std::string_view kTasksExtension = "io.modelcontextprotocol/tasks";

/// Where a request of the revision without a handshake names it.
inline constexpr std::string_view kVersionMetaKey = "io.modelcontextprotocol/protocolVersion";

}  // namespace elmpad::mcp
