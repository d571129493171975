// An agent built on the official MCP TypeScript SDK v2 client, driving
// `elmpad mcp` in one of its negotiation modes:
//   node client2.mjs <elmpad binary> <note path> legacy|auto|2026-07-28
// Prints one labelled line per step. After "waiting" it reads a line from
// standard input (the test's sign that the app holds the wait), then aborts
// the wait. It then starts a wait longer than its own request timeout,
// resetting that timeout on progress, and says "overdue" once the timeout
// alone would have ended the call; the test then lets the app answer.
// Outside the legacy mode it then calls every tool into an error and into a
// success, which the client checks against the tool's output schema.
import readline from "node:readline";

import { Client } from "@modelcontextprotocol/client";
import { StdioClientTransport } from "@modelcontextprotocol/client/stdio";

const [elmpad, note, mode] = process.argv.slice(2);
const say = (label, value) => process.stdout.write(`${label} ${JSON.stringify(value)}\n`);
const text = (result) => ({ text: result.content[0].text, isError: result.isError ?? false });
const kTimeoutMs = 12000;

const input = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();

const transport = new StdioClientTransport({ command: elmpad, args: ["mcp"], env: process.env, stderr: "inherit" });
const client = new Client(
  { name: "elmpad-interop", version: "2.0.0" },
  { versionNegotiation: { mode: mode === "legacy" || mode === "auto" ? mode : { pin: mode } } },
);
await client.connect(transport);

say("era", client.getNegotiatedProtocolVersion() === "2026-07-28" ? "2026-07-28" : "handshake");
const server = client.getServerVersion();
say("server", `${server?.name} ${server?.version}`);
const { tools } = await client.listTools();
say("tools", tools.map((tool) => tool.name));
if (mode !== "legacy") {
  const hints = (a) => [a.readOnlyHint, a.destructiveHint, a.idempotentHint, a.openWorldHint];
  say("hints", tools.map((tool) => [tool.title, ...hints(tool.annotations)]));
}
say("context", text(await client.callTool({ name: "get_context", arguments: {} })));
say("read", text(await client.callTool({ name: "read_section", arguments: { path: note, heading: "Plan" } })));
say("write", text(await client.callTool({
  name: "write_section",
  arguments: { path: note, heading: "Plan", operation: "replace", content: "new — body\n", baseHash: "h0" },
})));

const controller = new AbortController();
const waiting = client
  .callTool({ name: "wait_for_change", arguments: { path: note } }, { signal: controller.signal })
  .then((result) => ["resolved", text(result)], (error) => ["rejected", error.message]);
say("waiting", true);
await input.next();
controller.abort("user interrupt");
say("wait", await waiting);

let progress = 0;
const started = Date.now();
const long = client.callTool(
  { name: "wait_for_change", arguments: { path: note, timeout_seconds: 25 } },
  { timeout: kTimeoutMs, resetTimeoutOnProgress: true, onprogress: () => { progress += 1; } },
);
const overdue = setTimeout(() => say("overdue", true), kTimeoutMs + 3000);
const outcome = await long.then((result) => ["resolved", text(result)], (error) => ["rejected", error.message]);
clearTimeout(overdue);
say("long", outcome);
say("outlived", Date.now() - started > kTimeoutMs && progress > 0);

if (mode !== "legacy") {
  // What each result is, and whether its structured content is the JSON of
  // its text (an error has none).
  const shape = (result) => {
    const structured = JSON.stringify(result.structuredContent);
    if (result.isError) return structured === undefined ? "error" : "error with structuredContent";
    return structured === JSON.stringify(JSON.parse(result.content[0].text)) ? "ok" : "ok, structuredContent differs";
  };
  const call = (name, args) =>
    client.callTool({ name, arguments: args }).then(shape, (error) => `rejected: ${error.message}`);
  const folder = note.slice(0, note.lastIndexOf("/"));
  const success = {
    open_file: { path: note },
    open_folder: { path: folder },
    reveal: { path: note, heading: "Plan" },
    get_context: {},
    execute_command: { id: "file.save" },
    read_section: { path: note },
    write_section: { path: note, operation: "append", content: "x" },
    wait_for_change: { path: note, timeout_seconds: 1 },
    post_message: { text: "done" },
  };
  const outcomes = [];
  for (const tool of tools) outcomes.push([tool.name, await call(tool.name, {})]);
  for (const tool of tools) outcomes.push([tool.name, await call(tool.name, success[tool.name])]);
  say("every", outcomes);
}
await client.close();
process.exit(0);
