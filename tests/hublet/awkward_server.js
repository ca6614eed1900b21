"use strict";
// An OPC UA server that is awkward on purpose, for hublet's tests: mixed
// node classes among variables, an unreadable variable, several data types,
// a numeric node id, a folder larger than one Browse page, a slow variable,
// a folder of variables for the write tests, two relay ports that break
// connections mid-request, node ids of every identifier type (a string id of
// digits beside the same number as a numeric id), integer extremes, a
// DateTime, text with control characters, read-only, array and value-less
// variables, values with a bad or uncertain status, and two more servers
// that refuse: one offers no SecurityPolicy None, one no anonymous session.
//
//   node awkward_server.js --port P [--drop-port D] [--cut-port C] [--min-token-lifetime MS]
//                          [--secure-port S] [--no-anonymous-port A]
//
// Prints one line "ready" once every port listens. The relay on D forwards
// the handshake and closes both sides when the client sends its third
// service message (the first after CreateSession and ActivateSession); the
// relay on C forwards half of the third service response, then closes.
// Reads of more than MAX_NODES_PER_READ nodes get a service fault.

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
const { DataType, Variant, VariantArrayType } = need("node-opcua-variant");
const { StatusCodes } = need("node-opcua-status-code");
const { NodeId, NodeIdType } = need("node-opcua-nodeid");

const LARGE_FOLDER_SIZE = 2500;
const SLOW_READ_MS = 1500;
const MAX_NODES_PER_READ = 2000;

function parseArgs(argv) {
  const opts = { port: 0, dropPort: 0, cutPort: 0, minTokenLifetime: 0, securePort: 0, noAnonymousPort: 0 };
  for (let i = 0; i < argv.length; i += 2) {
    const value = Number(argv[i + 1]);
    if (!Number.isInteger(value) || value < 0) throw new Error(`bad value for ${argv[i]}`);
    if (argv[i] === "--port") opts.port = value;
    else if (argv[i] === "--drop-port") opts.dropPort = value;
    else if (argv[i] === "--cut-port") opts.cutPort = value;
    else if (argv[i] === "--min-token-lifetime") opts.minTokenLifetime = value;
    else if (argv[i] === "--secure-port") opts.securePort = value;
    else if (argv[i] === "--no-anonymous-port") opts.noAnonymousPort = value;
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

  // Written by the write tests only, so that the others can rely on Mixed:
  // Scratch by the library's tests, Cli by varnok-ua's.
  const writable = (folderName, variables) => {
    const folder = ns.addFolder(objects, { nodeId: sid(folderName), browseName: folderName });
    for (const [name, dataType, value, nodeId] of variables) {
      ns.addVariable({
        organizedBy: folder,
        nodeId: nodeId || sid(`${folderName}.${name}`),
        browseName: name,
        dataType,
        accessLevel: "CurrentRead | CurrentWrite",
        userAccessLevel: "CurrentRead | CurrentWrite",
        value: new Variant({ dataType: DataType[dataType], arrayType: VariantArrayType.Scalar, value }),
      });
    }
  };
  // A string id of digits beside the same number as a numeric id.
  const digitPair = (digits) => [
    ["DigitString", "Double", 10.5, sid(String(digits))],
    ["DigitNumber", "Double", 20.5, new NodeId(NodeIdType.NUMERIC, digits, ns.index)],
  ];
  writable("Scratch", [
    ["Count", "Int32", 42],
    ["Small", "Byte", 7],
    ["Flag", "Boolean", true],
    ["Ratio", "Float", 0.25],
    ["Text", "String", "hello"],
    ["Level", "Double", 1.5],
    ["Int32", "Int32", 42],
    ["Int64", "Int64", [0, 0]],
    ["UInt64", "UInt64", [0, 0]],
    ...digitPair(67890),
  ]);
  writable("Cli", [
    ["Count", "Int32", 42],
    ["Flag", "Boolean", true],
    ["Text", "String", "hello"],
    ["Int64", "Int64", [0, 0]],
    ["UInt64", "UInt64", [0, 0]],
    ...digitPair(24680),
  ]);

  // Every identifier type; ';', '=', a tab and a backslash in string ids.
  const ids = ns.addFolder(objects, { nodeId: sid("Ids"), browseName: "Ids" });
  for (const [name, nodeId, value, displayName] of [
    ["DigitString", sid("12345"), 1.25],
    ["DigitNumber", new NodeId(NodeIdType.NUMERIC, 12345, ns.index), 2.5],
    ["Guid", new NodeId(NodeIdType.GUID, "72962B91-FA75-4AE6-8D28-B404DC7DAF63", ns.index), 3.75],
    ["Opaque", new NodeId(NodeIdType.BYTESTRING, Buffer.from([0x00, 0xff, 0x10, 0x3b, 0x3d]), ns.index), 4.5],
    ["Punctuated", sid("a;b=c"), 5.5],
    ["Tabbed", sid("tab\there"), 6.5, "Tab\tand\nnew line"],
    ["Backslashed", sid("C:\\dir"), 7.5],
  ]) {
    ns.addVariable({
      organizedBy: ids,
      nodeId,
      browseName: name,
      displayName: displayName || name,
      dataType: "Double",
      accessLevel: "CurrentRead | CurrentWrite",
      userAccessLevel: "CurrentRead | CurrentWrite",
      value: new Variant({ dataType: DataType.Double, value }),
    });
  }

  // Values whose text forms are easy to get wrong, read only.
  const values = ns.addFolder(objects, { nodeId: sid("Values"), browseName: "Values" });
  const readOnly = (name, dataType, value, extra = {}) =>
    ns.addVariable({
      organizedBy: values,
      nodeId: sid(`Values.${name}`),
      browseName: name,
      dataType,
      valueRank: extra.valueRank,
      accessLevel: "CurrentRead",
      userAccessLevel: "CurrentRead",
      value,
    });
  readOnly("UInt64Max", "UInt64", new Variant({ dataType: DataType.UInt64, arrayType: VariantArrayType.Scalar, value: [0xffffffff, 0xffffffff] }));
  readOnly("Int64Min", "Int64", new Variant({ dataType: DataType.Int64, arrayType: VariantArrayType.Scalar, value: [0x80000000, 0] }));
  readOnly("Int64Max", "Int64", new Variant({ dataType: DataType.Int64, arrayType: VariantArrayType.Scalar, value: [0x7fffffff, 0xffffffff] }));
  readOnly("When", "DateTime", new Variant({ dataType: DataType.DateTime, value: new Date(Date.UTC(2026, 11, 9, 15, 4, 6, 123)) }));
  readOnly("Text", "String", new Variant({ dataType: DataType.String, value: "tab\there\nnew line\r\x07bell\\back" }));
  readOnly("Fixed", "Double", new Variant({ dataType: DataType.Double, value: 8.5 }));
  readOnly("Array", "Double", new Variant({ dataType: DataType.Double, arrayType: VariantArrayType.Array, value: [1, 2, 3] }), { valueRank: 1 });
  readOnly("Empty", "Double", new Variant({ dataType: DataType.Null }));
  readOnly("Stale", "Double", new Variant({ dataType: DataType.Double, value: 31.5 }))
    .setValueFromSource(new Variant({ dataType: DataType.Double, value: 31.5 }), StatusCodes.BadNoCommunication);
  readOnly("Doubtful", "Double", new Variant({ dataType: DataType.Double, value: 12.5 }))
    .setValueFromSource(new Variant({ dataType: DataType.Double, value: 12.5 }), StatusCodes.UncertainLastUsableValue);

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
  const newServer = (port, folder, extra) =>
    new OPCUAServer({
      port,
      host: "127.0.0.1",
      hostname: "localhost",
      serverCertificateManager: certificates(folder),
      userCertificateManager: certificates(`user-${folder}`),
      securityPolicies: [SecurityPolicy.None],
      securityModes: [MessageSecurityMode.None],
      allowAnonymous: true,
      maxConnectionsPerEndpoint: 50,
      serverCapabilities: {
        maxSessions: 50,
        maxBrowseContinuationPoints: 20,
        operationLimits: { maxNodesPerRead: MAX_NODES_PER_READ },
      },
      ...extra,
    });
  const server = newServer(opts.port, "pki", {});
  await server.initialize();
  populate(server);
  await server.start();
  // Refusals: a channel without security, and an anonymous session.
  if (opts.securePort) {
    const secure = newServer(opts.securePort, "secure-pki", {
      securityPolicies: [SecurityPolicy.Basic256Sha256],
      securityModes: [MessageSecurityMode.SignAndEncrypt],
    });
    await secure.start();
  }
  if (opts.noAnonymousPort) await newServer(opts.noAnonymousPort, "closed-pki", { allowAnonymous: false }).start();
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
