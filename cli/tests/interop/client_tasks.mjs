// A task-capable agent: the official Tasks package (@modelcontextprotocol/ext-tasks)
// on the v2 client pinned to 2026-07-28, driving `elmpad mcp`:
//   node client_tasks.mjs <elmpad binary> <note path>
// Prints one labelled line per step. It starts a wait, which the server turns
// into a task, has another tool answered meanwhile, says "waiting" and reads a
// line from standard input (the test's sign that the app answered the wait),
// then settles the task. It starts a second wait, says "waiting" again, reads
// a line, and cancels that task. Last it says "idle" and reads a line (the
// test looks at the app's connections meanwhile) before closing.
import readline from "node:readline";

import { Client } from "@modelcontextprotocol/client";
import { StdioClientTransport } from "@modelcontextprotocol/client/stdio";
import { createTaskSessionFromClient } from "@modelcontextprotocol/ext-tasks/client";

const [elmpad, note] = process.argv.slice(2);
const say = (label, value) => process.stdout.write(`${label} ${JSON.stringify(value)}\n`);
const text = (result) => ({ text: result.content[0].text, isError: result.isError ?? false });
// The elapsed seconds in a wait's status message depend on timing.
const view = (task) => ({
  status: task.status,
  statusMessage: task.statusMessage?.replace(/: \d+ of /, ": N of "),
  retentionMs: task.retentionMs,
  suggestedPollIntervalMs: task.suggestedPollIntervalMs,
});
const failure = (error) => ["rejected", `${error.constructor.name}: ${error.message}`];

// The package needs a raw request path for 2026-07-28 task traffic: the
// client's own request() decodes every result by its resultType and refuses
// "task". The SDK's public surface has none, so this subclass is the host's
// request coordinator: it sends on the client's transport with string ids of
// its own (the client numbers its requests) and takes their answers before
// the client's matching, which it is documented to allow.
class TaskHostClient extends Client {
  #pending = new Map();
  #next = 0;

  dispatch = (request, options = {}) =>
    new Promise((resolve, reject) => {
      const id = `ext-tasks-${++this.#next}`;
      const { signal } = options;
      const abort = () => {
        this.#pending.delete(id);
        reject(signal.reason);
      };
      if (signal?.aborted) return abort();
      signal?.addEventListener("abort", abort, { once: true });
      this.#pending.set(id, (response) => {
        signal?.removeEventListener("abort", abort);
        resolve(response);
      });
      this.transport.send({ ...request, jsonrpc: "2.0", id }).catch((error) => {
        this.#pending.delete(id);
        reject(error);
      });
    });

  _onresponse(response) {
    const settle = this.#pending.get(response.id);
    if (settle === undefined) return super._onresponse(response);
    this.#pending.delete(response.id);
    settle("error" in response
      ? { kind: "error", error: response.error }
      : { kind: "result", result: response.result });
  }
}

const input = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();

const clientInfo = { name: "elmpad-interop-tasks", version: "2.0.0" };
const transport = new StdioClientTransport({ command: elmpad, args: ["mcp"], env: process.env, stderr: "inherit" });
const client = new TaskHostClient(clientInfo, { versionNegotiation: { mode: { pin: "2026-07-28" } } });
await client.connect(transport);
const protocolVersion = client.getNegotiatedProtocolVersion();
say("era", protocolVersion);
say("extension", client.getServerCapabilities()?.extensions?.["io.modelcontextprotocol/tasks"] ?? null);

const session = createTaskSessionFromClient(client, {
  endpointId: "elmpad-interop",
  rawDispatch: client.dispatch,
  v2RequestFraming: { protocolVersion, clientInfo, clientCapabilities: {} },
});
say("session", session.capabilities);

// A wait becomes a task at once.
const first = await session.callTool("wait_for_change", { path: note });
const named = (execution) => typeof execution.handle?.taskId === "string" && execution.handle.taskId !== "";
say("task", [first.kind, first.handle?.operation, named(first)]);
say("snapshot", view(await session.task(first.handle.taskId).snapshot()));

// Other tools are answered while it waits: through the package (an immediate
// result) and through the client itself, beside the package's requests.
const context = await session.callTool("get_context", {});
const contextOutcome = await context.result();
say("context", [context.kind, contextOutcome.status, text(contextOutcome.result)]);
say("read", text(await client.callTool({ name: "read_section", arguments: { path: note, heading: "Plan" } })));

say("waiting", true);
await input.next();
const settled = await first.settle().then(
  ({ outcome, lastTask }) => [
    outcome.status,
    outcome.result && { ...text(outcome.result), structuredContent: outcome.result.structuredContent },
    lastTask && view(lastTask),
  ],
  failure,
);
say("settled", settled);

// A second wait, cancelled through the package.
const second = await session.callTool("wait_for_change", { path: note, timeout_seconds: 600 });
say("second", [second.kind, second.handle?.taskId !== first.handle.taskId]);
say("waiting", true);
await input.next();
say("cancel", await second.cancel().then(() => "acknowledged", failure));
say("ended", await second.settle().then(({ outcome }) => outcome.status, failure));
say("after", await session.task(second.handle.taskId).snapshot().then(view, failure));

say("idle", true);
await input.next();
await session.close();
await client.close();
process.exit(0);
