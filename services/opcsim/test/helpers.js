"use strict";
// Shared by the tests: run opcsim as a child process, talk to it over gRPC
// and OPC UA, always with deadlines.

const { spawn } = require("node:child_process");
const fs = require("node:fs");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const util = require("node:util");
const grpc = require("@grpc/grpc-js");
const { loadGatewayService } = require("../src/gateway");

const BIN = path.resolve(__dirname, "..", "bin", "opcsim.js");
const START_TIMEOUT_MS = 20000;
const CALL_DEADLINE_MS = 5000;

const tempDirs = [];
// Removed when the test process exits, after the `after` hooks killed the
// children using them.
process.once("exit", () => tempDirs.forEach((d) => fs.rmSync(d, { recursive: true, force: true })));

function tempDir(prefix = "opcsim-test-") {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  tempDirs.push(dir);
  return dir;
}

// A port the kernel just handed out on 127.0.0.1.
function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once("error", reject);
    server.listen({ host: "127.0.0.1", port: 0 }, () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Resolves with check()'s first truthy result; a check that throws counts
// as not yet. Fails after limitMs naming `what`.
async function until(check, limitMs, what) {
  const deadline = Date.now() + limitMs;
  let lastError;
  for (;;) {
    const result = await check().catch((err) => {
      lastError = err;
      return false;
    });
    if (result) return result;
    if (Date.now() > deadline) {
      throw new Error(`timed out waiting for ${what}${lastError ? ` (last error: ${lastError.message})` : ""}`);
    }
    await new Promise((r) => setTimeout(r, 50));
  }
}

const tagsOf = (pairs) => Object.entries(pairs).map(([name, value]) => ({ name, value }));
const valuesOf = (reply) => Object.fromEntries(reply.tags.map((t) => [t.name, t.value]));

// Runs bin/opcsim.js with `args` and `env` added to the environment;
// collects its output.
function run(args, env = {}) {
  const child = spawn(process.execPath, [BIN, ...args], { stdio: ["ignore", "pipe", "pipe"], env: { ...process.env, ...env } });
  const proc = { child, stdout: "", stderr: "" };
  child.stdout.setEncoding("utf8").on("data", (d) => (proc.stdout += d));
  child.stderr.setEncoding("utf8").on("data", (d) => (proc.stderr += d));
  proc.exited = new Promise((resolve) => child.once("exit", (code, signal) => resolve({ code, signal })));
  proc.waitFor = (pattern, timeoutMs = START_TIMEOUT_MS) => waitForOutput(proc, pattern, timeoutMs);
  proc.kill = () => child.exitCode === null && child.signalCode === null && child.kill("SIGKILL");
  return proc;
}

// Resolves with the match once stdout matches `pattern`; fails on time-out
// or exit.
async function waitForOutput(proc, pattern, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const m = proc.stdout.match(pattern);
    if (m) return m;
    const gone = proc.child.exitCode !== null || proc.child.signalCode !== null;
    if (gone || Date.now() > deadline) {
      throw new Error(`no ${pattern} ${gone ? "before exit" : `within ${timeoutMs} ms`}; stdout: ${proc.stdout}; stderr: ${proc.stderr}`);
    }
    await new Promise((r) => setTimeout(r, 20));
  }
}

// Starts opcsim on fresh ports and waits for its start line. Without
// `dbPort` it runs without history, so that no test depends on a database
// at the default address.
async function startOpcsim(extraArgs = [], { dbPort } = {}) {
  const stateDir = tempDir();
  const opcuaPort = await freePort();
  let gatewayPort = await freePort();
  while (gatewayPort === opcuaPort) gatewayPort = await freePort();
  const proc = run([
    "--opcua-port",
    String(opcuaPort),
    "--gateway-port",
    String(gatewayPort),
    "--state-dir",
    stateDir,
    ...(dbPort ? ["--db-host", "127.0.0.1", "--db-port", String(dbPort)] : ["--no-history"]),
    ...extraArgs,
  ]);
  await proc.waitFor(/OPC UA on (\S+), gateway on/);
  return Object.assign(proc, { opcuaPort, gatewayPort, stateDir, endpoint: `opc.tcp://localhost:${opcuaPort}` });
}

// gRPC client whose methods return promises and carry a deadline, and
// `authorization` metadata when given.
function gatewayClient(address, { authorization } = {}) {
  const Gateway = loadGatewayService();
  const client = new Gateway(address, grpc.credentials.createInsecure());
  const metadata = () => {
    const m = new grpc.Metadata();
    if (authorization !== undefined) m.set("authorization", authorization);
    return m;
  };
  const call = (method) => (request) =>
    new Promise((resolve, reject) => {
      client[method](request, metadata(), { deadline: Date.now() + CALL_DEADLINE_MS }, (err, reply) => (err ? reject(err) : resolve(reply)));
    });
  return {
    register: call("Register"),
    read: call("Read"),
    publish: call("Publish"),
    release: call("Release"),
    // An Exchange stream: sends `requests`, half-closes, and resolves with
    // the replies or rejects with the status that ended it.
    exchange: (requests) =>
      new Promise((resolve, reject) => {
        const stream = client.Exchange(metadata(), { deadline: Date.now() + CALL_DEADLINE_MS });
        const replies = [];
        stream.on("data", (reply) => replies.push(reply));
        stream.on("error", reject);
        stream.on("end", () => resolve(replies));
        for (const request of requests) stream.write(request);
        stream.end();
      }),
    close: () => client.close(),
  };
}

let quietOpcua = false;
// node-opcua's client prints notes and warnings on stdout, which would
// clutter the test report; keep only real errors.
function quietenOpcua() {
  if (quietOpcua) return;
  quietOpcua = true;
  const debug = require("node-opcua-debug");
  debug.setWarningLogger(() => {});
  debug.setTraceLogger(() => {});
  debug.setErrorLogger((_ctx, ...args) => process.stderr.write(`node-opcua: ${util.format(...args)}\n`));
}

// One client PKI per test process: making a key pair per session would
// cost more than the session. The first connection makes it; the others
// wait for that, since clients making it at once trip over each other.
let sharedCertificates = null;
let certificatesMade = null;
async function connectWithSharedCertificates(client, endpoint) {
  if (certificatesMade) {
    await certificatesMade.catch(() => {});
    return client.connect(endpoint);
  }
  certificatesMade = client.connect(endpoint);
  return certificatesMade;
}

function clientCertificates() {
  if (!sharedCertificates) {
    const { OPCUACertificateManager } = require("node-opcua-certificate-manager");
    sharedCertificates = new OPCUACertificateManager({
      rootFolder: path.join(tempDir("opcsim-client-"), "pki"),
      automaticallyAcceptUnknownCertificate: true,
    });
  }
  return sharedCertificates;
}

// Writes `text` to a new file of mode `mode` in a temp folder; returns its path.
function privateFile(name, text, mode = 0o600) {
  const file = path.join(tempDir(), name);
  fs.writeFileSync(file, text, { mode });
  fs.chmodSync(file, mode); // the umask may have taken bits away
  return file;
}

// OPC UA session, no security, own PKI in a temp folder; anonymous unless
// `user` ({ userName, password }) is given.
async function opcuaSession(endpoint, user) {
  quietenOpcua();
  const { OPCUAClient } = require("node-opcua-client");
  const client = OPCUAClient.create({
    endpointMustExist: false,
    connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
    transportTimeout: CALL_DEADLINE_MS,
    defaultTransactionTimeout: CALL_DEADLINE_MS,
    requestedSessionTimeout: 20000,
    clientCertificateManager: clientCertificates(),
  });
  await connectWithSharedCertificates(client, endpoint);
  let session;
  try {
    const { UserTokenType } = require("node-opcua-client");
    session = await client.createSession(user ? { type: UserTokenType.UserName, ...user } : undefined);
  } catch (err) {
    await client.disconnect();
    throw err;
  }
  return {
    client,
    session,
    // Monitors the Value of each node id; seen[nodeId] collects every
    // DataValue the server notifies, oldest first.
    async subscribe(nodeIds) {
      const { ClientSubscription, ClientMonitoredItem, TimestampsToReturn, AttributeIds } = require("node-opcua-client");
      const subscription = await ClientSubscription.create(session, {
        requestedPublishingInterval: 50,
        requestedLifetimeCount: 1000,
        requestedMaxKeepAliveCount: 20,
        publishingEnabled: true,
      });
      const seen = {};
      for (const nodeId of nodeIds) {
        seen[nodeId] = [];
        const item = await ClientMonitoredItem.create(
          subscription,
          { nodeId, attributeId: AttributeIds.Value },
          { samplingInterval: 0, queueSize: 100, discardOldest: false },
          TimestampsToReturn.Both,
        );
        item.on("changed", (dataValue) => seen[nodeId].push(dataValue));
      }
      return { seen, close: () => subscription.terminate() };
    },
    async close() {
      await session.close().catch(() => {});
      await client.disconnect();
    },
  };
}

// A DateTime to the microsecond: node-opcua carries the part below the
// millisecond as `picoseconds`.
function dateOfUs(us) {
  const ms = Math.floor(us / 1000);
  return Object.assign(new Date(ms), { picoseconds: (us - ms * 1000) * 1e6 });
}

const usOf = (date, picoseconds) => date.getTime() * 1000 + Math.floor((picoseconds || 0) / 1e6);

// One raw HistoryRead request of one node. `range`: { start, end } (Dates,
// null for unspecified), n, continuationPoint, release.
async function historyReadOnce(session, nodeId, { start = null, end = null, n = 0, continuationPoint, release = false }) {
  const { HistoryReadRequest, HistoryReadValueId, ReadRawModifiedDetails, TimestampsToReturn } = require("node-opcua-client");
  const response = await session.historyRead(
    new HistoryReadRequest({
      historyReadDetails: new ReadRawModifiedDetails({
        isReadModified: false,
        startTime: start,
        endTime: end,
        numValuesPerNode: n,
        returnBounds: false,
      }),
      timestampsToReturn: TimestampsToReturn.Both,
      releaseContinuationPoints: release,
      nodesToRead: [new HistoryReadValueId({ nodeId, continuationPoint })],
    }),
  );
  const result = response.results[0];
  const values = (result.historyData?.dataValues || []).map((dv) => ({
    us: usOf(dv.sourceTimestamp, dv.sourcePicoseconds),
    serverUs: usOf(dv.serverTimestamp, dv.serverPicoseconds),
    value: dv.value.value,
    status: dv.statusCode.name,
  }));
  const cp = result.continuationPoint && result.continuationPoint.length > 0 ? result.continuationPoint : null;
  return { status: result.statusCode.name, values, continuationPoint: cp };
}

// Follows the continuation points to the end: { values, pages (their
// sizes), statuses }.
async function historyReadAll(session, nodeId, range, maxPages = 10000) {
  const out = { values: [], pages: [], statuses: [] };
  let continuationPoint;
  for (let i = 0; i < maxPages; i++) {
    const page = await historyReadOnce(session, nodeId, { ...range, continuationPoint });
    out.values.push(...page.values);
    out.pages.push(page.values.length);
    out.statuses.push(page.status);
    continuationPoint = page.continuationPoint;
    if (!continuationPoint) return out;
  }
  throw new Error(`${nodeId}: more than ${maxPages} pages`);
}

// One opcsim for a whole test file, with a gateway client and an OPC UA
// session on it; the returned object is filled before the first test and
// everything is closed after the last.
function sharedSimulation(args = []) {
  const { before, after } = require("node:test");
  const shared = {};
  before(async () => {
    shared.sim = await startOpcsim(args);
    shared.gw = gatewayClient(`127.0.0.1:${shared.sim.gatewayPort}`);
    shared.ua = await opcuaSession(shared.sim.endpoint);
  });
  after(async () => {
    if (shared.ua) await shared.ua.close().catch(() => {});
    if (shared.gw) shared.gw.close();
    if (shared.sim) shared.sim.kill();
  });
  return shared;
}

module.exports = {
  run,
  sharedSimulation,
  startOpcsim,
  gatewayClient,
  opcuaSession,
  freePort,
  tempDir,
  privateFile,
  until,
  tagsOf,
  valuesOf,
  CALL_DEADLINE_MS,
  dateOfUs,
  historyReadOnce,
  historyReadAll,
};
