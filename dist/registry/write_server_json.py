#!/usr/bin/env python3
"""write_server_json.py VERSION BUNDLE_SHA256 OUT: the MCP registry entry of a
release, pointing at its bundle on the release page."""
import json
import sys

version, sha, out = sys.argv[1:4]
entry = {
    "$schema": "https://static.modelcontextprotocol.io/schemas/2025-12-11/server.schema.json",
    "name": "io.github.tarn/elmpad",
    "description": "Open, read and edit the notes of the Elmwrite markdown editor (macOS) from your agent.",
    "repository": {"url": "https://github.com/tarn/elmpad", "source": "github"},
    "version": version,
    "packages": [{
        "registryType": "mcpb",
        "identifier": f"https://github.com/tarn/elmpad/releases/download/v{version}/elmpad-{version}.mcpb",
        "version": version,
        "fileSha256": sha,
        "transport": {"type": "stdio"},
    }],
}
with open(out, "w") as file:
    json.dump(entry, file, indent=2)
    file.write("\n")
