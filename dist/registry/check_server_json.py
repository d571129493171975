#!/usr/bin/env python3
"""check_server_json.py SERVER_JSON BUNDLE: the registry's rules for a
server.json, and that its bundle hash is the bundle's."""
import hashlib
import json
import re
import sys

path, bundle = sys.argv[1:3]
entry = json.load(open(path))
faults = []


def require(condition, fault):
    if not condition:
        faults.append(fault)


name = entry.get("name", "")
require(name.count("/") == 1, f"name {name!r}: not exactly one '/'")
namespace = name.split("/")[0]
require(re.fullmatch(r"[a-z0-9]+(-[a-z0-9]+)*(\.[a-zA-Z0-9]+(-[a-zA-Z0-9]+)*)+", namespace) is not None,
        f"name {name!r}: namespace not reverse DNS")
description = entry.get("description", "")
require(0 < len(description) <= 100, f"description: {len(description)} characters, not 1 to 100")
require(re.fullmatch(r"\d+\.\d+\.\d+", entry.get("version", "")) is not None, "version: not MAJOR.MINOR.PATCH")
require(entry.get("$schema", "").startswith("https://static.modelcontextprotocol.io/schemas/"), "$schema: not the registry's")
packages = entry.get("packages", [])
require(len(packages) == 1, f"{len(packages)} packages, not one")
sha = hashlib.sha256(open(bundle, "rb").read()).hexdigest()
for package in packages:
    require(package.get("registryType") == "mcpb", "package: registryType not mcpb")
    identifier = package.get("identifier", "")
    require(identifier.startswith("https://") and identifier.endswith(".mcpb"), f"identifier {identifier!r}: not a bundle's address")
    require(entry.get("version", "") in identifier, "identifier: not this version's download")
    require(package.get("fileSha256") == sha, "fileSha256: not the bundle's hash")
    require(package.get("transport") == {"type": "stdio"}, "transport: not stdio")
if faults:
    sys.exit("server.json: " + "; ".join(faults))
print(f"server.json: {name} {entry['version']}, bundle hash matches")
