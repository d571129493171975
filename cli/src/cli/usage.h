// The fixed usage text (no line break after its last line).
#pragma once

#include <string_view>

namespace elmpad {

inline constexpr std::string_view kUsage =
    "elmpad — Elmwrite CLI\n"
    "\n"
    "USAGE:\n"
    "  elmpad [open] [OPTIONS] <file>...       open file(s) in Elmwrite; an image\n"
    "                                          (png, jpg, gif, webp, svg) opens\n"
    "                                          read-only in the viewer beside the\n"
    "                                          document and is never created\n"
    "  elmpad [open] <folder>                  open a folder as a workspace\n"
    "                                          (an existing directory, or `elmpad .`;\n"
    "                                          not combinable with --wait or files)\n"
    "  elmpad reveal [--json] <file> [heading]  open a file and scroll to a heading\n"
    "                                          (exact, then case-insensitive, never by\n"
    "                                          prefix; `::` path and #k as in\n"
    "                                          read_section; no heading = open and\n"
    "                                          activate only)\n"
    "  elmpad status [--json]                  report app state (never launches the app)\n"
    "  elmpad mcp                              run an MCP server on stdio (for MCP\n"
    "                                          clients to spawn, e.g. `claude mcp add\n"
    "                                          elmpad -- elmpad mcp`; stays alive\n"
    "                                          until stdin closes)\n"
    "  elmpad --version                        print the version and exit\n"
    "  elmpad --help\n"
    "\n"
    "OPTIONS:\n"
    "  --wait             block until the tab is closed (single file only);\n"
    "                     suitable for EDITOR=\"elmpad --wait\"\n"
    "  --source <name>    label shown on the session tab (e.g. git, claude)\n"
    "  --json             machine-readable single-line JSON on stdout\n"
    "\n"
    "EXIT CODES:\n"
    "  0  success; with --wait: the user finished (content saved to disk)\n"
    "  1  runtime error (connection failed, timeout, channel closed mid-wait,\n"
    "     heading not found — the file is still opened; a folder path written with\n"
    "     a trailing '/' that does not exist)\n"
    "  2  usage error (unknown command/flag; --wait or extra files with a folder;\n"
    "     --wait with an image)\n"
    "  3  with --wait: the user explicitly discarded the session";

}  // namespace elmpad
