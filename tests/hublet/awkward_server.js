"use strict";
// An OPC UA server that is awkward on purpose, for hublet's tests: mixed
// node classes among variables, an unreadable variable, several data types,
// a numeric node id, a folder larger than one Browse page, a slow variable,
// a folder of variables for the write tests, and two relay ports that break
// connections mid-request.
//
//   node awkward_server.js --port P [--drop-port D] [--cut-port C] [--min-token-lifetime MS]
//
// Prints one line "ready" once every port listens. The relay on D forwards
// the handshake and closes both sides when the client sends its third
// service message (the first after CreateSession and ActivateSession); the
// relay on C forwards half of the third service response, then closes.

const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const util = require("node:util");
const fs = require("node:fs");

const repo = path.resolve(__dirname, "..", "..");
const modules = path.join(repo, "services", "opcsim", "node_modules");
const need = (name) => require(path.join(modules, name));

// node-opcua's notes would clutter the test output; keep real errors only.
const debug = need("node-opcua-debug");
debug.setWarningLogger(() => {});
debug.setTraceLogger(() => {});
debug.setErrorLogger((_ctx, ...args) => process.stderr.write(`awkward: ${util.format(...args)}\n`));

const { OPCUAServer } = need("node-opcua-server");
const { OPCUACertificateManager } = need("node-opcua-certificate-manager");
const { MessageSecurityMode, SecurityPolicy, ServerSecureChannelLayer } = need("node-opcua-secure-channel");
const { DataType, Variant } = need("node-opcua-variant");
const { StatusCodes } = need("node-opcua-status-code");
const { NodeId, NodeIdType } = need("node-opcua-nodeid");

const LARGE_FOLDER_SIZE = 2500;
const SLOW_READ_MS = 1500;

function parseArgs(argv) {
  const opts = { port: 0, dropPort: 0, cutPort: 0, minTokenLifetime: 0 };
  for (let i = 0; i < argv.length; i += 2) {
    const value = Number(argv[i + 1]);
    if (!Number.isInteger(value) || value < 0) throw new Error(`bad value for ${argv[i]}`);
    if (argv[i] === "--port") opts.port = value;
    else if (argv[i] === "--drop-port") opts.dropPort = value;
    else if (argv[i] === "--cut-port") opts.cutPort = value;
    else if (argv[i] === "--min-token-lifetime") opts.minTokenLifetime = value;
    else throw new Error(`unknown option ${argv[i]}`);
  }
  if (!opts.port) throw new Error("--port is required");
  return opts;
}

function populate(server) {
  const addressSpace = server.engine.addressSpace;
  const ns = addressSpace.getOwnNamespace();
  const sid = (text) => new NodeId(NodeIdType.STRING, text, ns.index);
  const objects = addressSpace.rootFolder.objects;

  const mixed = ns.addFolder(objects, { nodeId: sid("Mixed"), browseName: "Mixed" });
  const variable = (name, dataType, value, extra = {}) =>
    ns.addVariable({
      componentOf: mixed,
      nodeId: extra.nodeId || sid(`Mixed.${name}`),
      browseName: name,
      displayName: extra.displayName || name,
      dataType,
      accessLevel: extra.accessLevel || "CurrentRead | CurrentWrite",
      userAccessLevel: extra.accessLevel || "CurrentRead | CurrentWrite",
      value: extra.value || new Variant({ dataType: DataType[dataType], value }),
    });

  // Children in this order; the test expects it.
  variable("Flow", "Double", 1.5, { displayName: "Flow rate" });
  const pump = ns.addObject({ componentOf: mixed, nodeId: sid("Mixed.Pump"), browseName: "Pump" });
  ns.addVariable({ componentOf: pump, nodeId: sid("Mixed.Pump.Speed"), browseName: "Speed", dataType: "Double" });
  const reset = ns.addMethod(mixed, { nodeId: sid("Mixed.Reset"), browseName: "Reset" });
  reset.bindMethod((_inputs, _context, callback) => callback(null, { statusCode: StatusCodes.Good }));
  variable("Secret", "Double", 9.75, { accessLevel: "CurrentWrite" });
  variable("Running", "Boolean", true);
  variable("Count", "Int32", 42);
  variable("Ratio", "Float", 0.25);
  variable("Label", "String", "hello");
  variable("Small", "Byte", 7);
  variable("Numeric", "Double", 7.0, { nodeId: new NodeId(NodeIdType.NUMERIC, 4242, ns.index) });
  ns.addVariable({
    componentOf: mixed,
    nodeId: sid("Mixed.Slow"),
    browseName: "Slow",
    dataType: "Double",
    accessLevel: "CurrentRead",
    userAccessLevel: "CurrentRead",
    value: {
      refreshFunc(callback) {
        setTimeout(() => {
          callback(null, { value: new Variant({ dataType: DataType.Double, value: 3.0 }), statusCode: StatusCodes.Good, sourceTimestamp: new Date() });
        }, SLOW_READ_MS);
      },
    },
  });

  // Written by the write tests only, so that the others can rely on Mixed.
  const scratch = ns.addFolder(objects, { nodeId: sid("Scratch"), browseName: "Scratch" });
  for (const [name, dataType, value] of [
    ["Count", "Int32", 42],
    ["Small", "Byte", 7],
    ["Flag", "Boolean", true],
    ["Ratio", "Float", 0.25],
    ["Text", "String", "hello"],
    ["Level", "Double", 1.5],
  ]) {
    ns.addVariable({
      organizedBy: scratch,
      nodeId: sid(`Scratch.${name}`),
      browseName: name,
      dataType,
      accessLevel: "CurrentRead | CurrentWrite",
      userAccessLevel: "CurrentRead | CurrentWrite",
      value: new Variant({ dataType: DataType[dataType], value }),
    });
  }

  const large = ns.addFolder(objects, { nodeId: sid("Large"), browseName: "Large" });
  for (let i = 0; i < LARGE_FOLDER_SIZE; i++) {
    const name = `L${String(i).padStart(4, "0")}`;
    ns.addVariable({
      organizedBy: large,
      nodeId: sid(`Large.${name}`),
      browseName: name,
      dataType: "Double",
      accessLevel: "CurrentRead | CurrentWrite",
      userAccessLevel: "CurrentRead | CurrentWrite",
      value: new Variant({ dataType: DataType.Double, value: i }),
    });
  }
}

// Splits a byte stream into UA TCP chunks and reports each one.
function chunker(onChunk) {
  let pending = Buffer.alloc(0);
  return (data) => {
    pending = Buffer.concat([pending, data]);
    while (pending.length >= 8) {
      const size = pending.readUInt32LE(4);
      if (size < 8 || pending.length < size) break;
      const chunk = pending.subarray(0, size);
      pending = pending.subarray(size);
      if (onChunk(chunk) === false) return;
    }
  };
}

// Relays to the real server; `mode` "drop" or "cut" breaks the third service
// exchange of every connection.
function startRelay(listenPort, targetPort, mode) {
  const server = net.createServer((down) => {
    const up = net.connect({ host: "127.0.0.1", port: targetPort });
    const closeBoth = () => {
      down.destroy();
      up.destroy();
    };
    for (const s of [down, up]) {
      s.on("error", closeBoth);
      s.on("close", closeBoth);
    }
    let requests = 0;
    let responses = 0;
    down.on(
      "data",
      chunker((chunk) => {
        const isServiceMessage = chunk.toString("latin1", 0, 4) === "MSGF";
        if (isServiceMessage && ++requests === 3 && mode === "drop") {
          closeBoth();
          return false;
        }
        up.write(chunk);
        return true;
      }),
    );
    up.on(
      "data",
      chunker((chunk) => {
        const isServiceMessage = chunk.toString("latin1", 0, 4) === "MSGF";
        if (isServiceMessage && ++responses === 3 && mode === "cut") {
          down.write(chunk.subarray(0, Math.floor(chunk.length / 2)), () => closeBoth());
          return false;
        }
        down.write(chunk);
        return true;
      }),
    );
  });
  return new Promise((resolve, reject) => {
    server.once("error", reject);
    server.listen({ host: "127.0.0.1", port: listenPort }, () => resolve(server));
  });
}

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  if (opts.minTokenLifetime) ServerSecureChannelLayer.g_MinimumSecureTokenLifetime = opts.minTokenLifetime;
  const pki = fs.mkdtempSync(path.join(os.tmpdir(), "hublet-awkward-"));
  process.once("exit", () => fs.rmSync(pki, { recursive: true, force: true }));
  const certificates = (folder) =>
    new OPCUACertificateManager({ rootFolder: path.join(pki, folder), automaticallyAcceptUnknownCertificate: true });
  const server = new OPCUAServer({
    port: opts.port,
    host: "127.0.0.1",
    hostname: "localhost",
    serverCertificateManager: certificates("pki"),
    userCertificateManager: certificates("user-pki"),
    securityPolicies: [SecurityPolicy.None],
    securityModes: [MessageSecurityMode.None],
    allowAnonymous: true,
    maxConnectionsPerEndpoint: 50,
    serverCapabilities: { maxSessions: 50, maxBrowseContinuationPoints: 20 },
  });
  await server.initialize();
  populate(server);
  await server.start();
  if (opts.dropPort) await startRelay(opts.dropPort, opts.port, "drop");
  if (opts.cutPort) await startRelay(opts.cutPort, opts.port, "cut");
  process.stdout.write("ready\n");
  const stop = () => process.exit(0);
  process.on("SIGTERM", stop);
  process.on("SIGINT", stop);
}

main().catch((err) => {
  process.stderr.write(`awkward: ${err.stack || err}\n`);
  process.exit(1);
});
