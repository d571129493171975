#!/usr/bin/env python3
"""write_manifest.py ELMPAD VERSION OUT: the bundle's manifest.json, its tools
read from the built server itself, so the list cannot drift from the code."""
import json
import subprocess
import sys


def server_tools(elmpad):
    # The server ends at the end of its input: stdin stays open until both
    # answers are read.
    server = subprocess.Popen([elmpad, "mcp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def send(message):
        server.stdin.write(json.dumps(message) + "\n")
        server.stdin.flush()

    def answer(request_id):
        for line in server.stdout:
            message = json.loads(line)
            if message.get("id") == request_id:
                if "error" in message:
                    sys.exit(f"write_manifest: {message['error']}")
                return message["result"]
        sys.exit("write_manifest: the server ended before answering")

    send({"jsonrpc": "2.0", "id": 1, "method": "initialize",
          "params": {"protocolVersion": "2025-06-18", "capabilities": {},
                     "clientInfo": {"name": "write_manifest", "version": "1"}}})
    answer(1)
    send({"jsonrpc": "2.0", "method": "notifications/initialized"})
    send({"jsonrpc": "2.0", "id": 2, "method": "tools/list"})
    tools = answer(2)["tools"]
    server.stdin.close()
    server.wait()
    return [{"name": tool["name"], "description": tool["description"]} for tool in tools]


def main():
    elmpad, version, out = sys.argv[1:4]
    manifest = {
        "manifest_version": "0.3",
        "name": "elmpad",
        "display_name": "Elmwrite (elmpad)",
        "version": version,
        "description": "Open, read and edit the notes of the Elmwrite markdown editor from your agent.",
        "author": {"name": "Tarn", "url": "https://github.com/tarn"},
        "homepage": "https://github.com/tarn/elmpad",
        "server": {
            "type": "binary",
            "entry_point": "server/elmpad",
            "mcp_config": {"command": "${__dirname}/server/elmpad", "args": ["mcp"]},
        },
        # Elmwrite is a macOS application: the bundle's server has nothing
        # to talk to elsewhere.
        "compatibility": {"platforms": ["darwin"]},
        "tools": server_tools(elmpad),
    }
    with open(out, "w") as file:
        json.dump(manifest, file, indent=2, ensure_ascii=False)
        file.write("\n")


main()
