// Drives `lumenor mcp` through the official TypeScript SDK's stdio client, as an agent would.
// Environment: TOOL (the lumenor command), MCP_SDK (the folder npm installed the SDK into), and
// the sandbox's LUMENOR_HOME. Prints what failed to standard error and exits 1 on the first fault.
import { execFileSync } from 'node:child_process';
import { pathToFileURL } from 'node:url';

const sdk = `${process.env.MCP_SDK}/node_modules/@modelcontextprotocol/sdk/dist/esm`;
const { Client } = await import(pathToFileURL(`${sdk}/client/index.js`));
const { StdioClientTransport } = await import(pathToFileURL(`${sdk}/client/stdio.js`));
const tool = process.env.TOOL;

function check(condition, what, seen) {
  if (!condition) {
    console.error(`FAILED: ${what}\n${JSON.stringify(seen, null, 1)}`);
    process.exit(1);
  }
}

const holdIds = () =>
  (JSON.parse(execFileSync(tool, ['holds', '--json'])).status.holds ?? []).map((h) => h.id);

async function connect() {
  const client = new Client({ name: 'sdk-test', version: '1.0.0' });
  const transport = new StdioClientTransport({
    command: tool, args: ['mcp'], env: process.env, stderr: 'inherit',
  });
  await client.connect(transport);
  return client;
}

const client = await connect();
check(client.getServerVersion()?.name === 'lumenor', 'serverInfo.name', client.getServerVersion());
check(client.getServerCapabilities()?.tools, 'tools capability', client.getServerCapabilities());

const { tools } = await client.listTools();
const names = tools.map((t) => t.name).sort();
check(names.join() === 'allow_sleep,keep_awake,list_holds,list_inhibitors,sleep,status',
  'tool names', names);
for (const t of tools) {
  check(t.inputSchema.type === 'object' && t.outputSchema?.type === 'object' &&
    t.description && !t.description.includes('\n') && t.annotations, `shape of ${t.name}`, t);
  const readOnly = ['status', 'list_holds', 'list_inhibitors'].includes(t.name);
  check(t.annotations.readOnlyHint === readOnly &&
    t.annotations.destructiveHint === (t.name === 'sleep'), `annotations of ${t.name}`, t);
}

// The SDK checks every structuredContent against the tool's outputSchema on the way.
const taken = await client.callTool({ name: 'keep_awake', arguments: { duration: '2h' } });
const id = taken.structuredContent?.id;
check(!taken.isError && id && taken.structuredContent.label === 'sdk-test' &&
  /^\d{4}-\d\d-\d\dT/.test(taken.structuredContent.until), 'keep_awake result', taken);
check(holdIds().includes(id), 'the hold in `lumenor holds`', holdIds());
const listed = await client.callTool({ name: 'list_holds', arguments: {} });
check(listed.structuredContent.holds.some((h) => h.id === id), 'list_holds', listed);
const status = await client.callTool({ name: 'status', arguments: {} });
check(status.structuredContent.awake === true, 'status while held', status);
const inhibitors = await client.callTool({ name: 'list_inhibitors', arguments: {} });
check(Array.isArray(inhibitors.structuredContent?.inhibitors), 'list_inhibitors', inhibitors);

const refused = await client.callTool({ name: 'keep_awake', arguments: { duration: 'soon' } });
check(refused.isError && refused.content[0].text.includes('soon'), 'a bad duration', refused);
const unknown = await client.callTool({ name: 'allow_sleep', arguments: { id: 'nosuch' } });
check(unknown.isError && unknown.content[0].text.includes('nosuch'), 'no such hold', unknown);
const wrong = await client.callTool({ name: 'nope', arguments: {} }).catch((e) => e);
check(wrong.code === -32602, 'unknown tool', String(wrong));

const other = await client.callTool({ name: 'keep_awake', arguments: { duration: '5m' } });
const one = await client.callTool({ name: 'allow_sleep', arguments: { id: other.structuredContent.id } });
check(one.structuredContent.released.join() === other.structuredContent.id, 'allow_sleep of one', one);
const released = await client.callTool({ name: 'allow_sleep', arguments: {} });
check(released.structuredContent.released.join() === id &&
  released.content[0].text === `Released ${id}.`, 'allow_sleep of the session', released);
check(!holdIds().includes(id), 'the hold gone after allow_sleep', holdIds());

const sleep = await client.callTool({ name: 'sleep', arguments: { in: '10m' } });
check(!sleep.isError && sleep.structuredContent.pending, 'sleep', sleep);
const cancelled = await client.callTool({ name: 'sleep', arguments: { cancel: true } });
check(!cancelled.isError && !cancelled.structuredContent.pending, 'cancel sleep', cancelled);

// A hold ends with the client that took it.
const last = await client.callTool({ name: 'keep_awake', arguments: { label: 'until close' } });
check(holdIds().includes(last.structuredContent.id), 'second hold', holdIds());
const closing = Date.now();
await client.close();
while (holdIds().includes(last.structuredContent.id)) {
  check(Date.now() - closing < 2000, 'the hold ended within 2 s of closing', holdIds());
  await new Promise((r) => setTimeout(r, 50));
}
console.log(`ok: hold ended ${Date.now() - closing} ms after the client closed`);
