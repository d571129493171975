// An agent built on the official MCP TypeScript SDK, driving `elmpad mcp`:
//   node client.mjs <elmpad binary> <note path>
// Prints one labelled line per step. After "waiting" it reads a line from
// standard input (the test's sign that the app holds the wait), then aborts
// the wait, which makes the SDK send notifications/cancelled.
import readline from "node:readline";

import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

const [elmpad, note] = process.argv.slice(2);
const say = (label, value) => process.stdout.write(`${label} ${JSON.stringify(value)}\n`);
const text = (result) => ({ text: result.content[0].text, isError: result.isError ?? false });

const input = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();

const transport = new StdioClientTransport({ command: elmpad, args: ["mcp"], env: process.env, stderr: "inherit" });
const client = new Client({ name: "elmpad-interop", version: "1.0.0" });
const problems = [];
client.onerror = (error) => problems.push(error.message);
await client.connect(transport);

const server = client.getServerVersion();
say("server", `${server.name} ${server.version}`);
const { tools } = await client.listTools();
say("tools", tools.map((tool) => tool.name));
say("read", text(await client.callTool({ name: "read_section", arguments: { path: note, heading: "Plan" } })));
say("write", text(await client.callTool({
  name: "write_section",
  arguments: { path: note, heading: "Plan", operation: "replace", content: "new — body\n", baseHash: "h1" },
})));

const controller = new AbortController();
const waiting = client
  .callTool({ name: "wait_for_change", arguments: { path: note } }, undefined, { signal: controller.signal })
  .then((result) => ["resolved", text(result)], (error) => ["rejected", error.message]);
say("waiting", true);
await input.next();
controller.abort("user interrupt");
say("wait", await waiting);
say("ping", await client.ping());
// The answer to the aborted call arrived before the ping's; the SDK no longer
// expects it and reports it as unknown.
say("late", problems);
await client.close();
process.exit(0);
