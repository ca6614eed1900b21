"use strict";
// The OPC UA side: one folder per tag group under Objects, one Double
// variable per tag, all in namespace 2; tags with a unit or a range are
// AnalogItems. With a history database every variable is historizing and
// answers HistoryRead from it. With users, only they may write.

const net = require("node:net");
const path = require("node:path");
const util = require("node:util");

// node-opcua prints its warnings with console.log, which would mix them into
// the service log on stdout. Route them to stderr before anything else of
// node-opcua loads.
const opcuaDebug = require("node-opcua-debug");
const quietLogger = (kind) => (_context, ...args) => {
  const text = util.format(...args);
  // Neither the channel (SecurityPolicy None) nor a password token uses RSA
  // PKCS#1 v1.5, so that check does not concern us.
  if (text.includes("NODE-OPCUA-W27") || text.includes("CVE-2023-46809")) return;
  // Clients reach opcsim by whatever name or address they know it by; one
  // line per session that does not use the advertised one is only noise.
  if (text.includes("Cannot find suitable endpoints in available endpoints")) return;
  process.stderr.write(`opcsim: node-opcua ${kind}: ${text}\n`);
};
opcuaDebug.setWarningLogger(quietLogger("warning"));
opcuaDebug.setErrorLogger(quietLogger("error"));

const { OPCUAServer } = require("node-opcua-server");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");
const { MessageSecurityMode, SecurityPolicy } = require("node-opcua-secure-channel");
const { DataType, Variant } = require("node-opcua-variant");
const { StatusCodes } = require("node-opcua-status-code");
const { NodeId, NodeIdType } = require("node-opcua-nodeid");
const { judgeClientWrite } = require("./client-write");
const { TagInfoNodes } = require("./tag-info");
const { ContinuationPoints, MAX_PER_SESSION } = require("./continuation-points");
const { HistoryReader, MAX_VALUES_PER_RESPONSE } = require("./history-read");
const { connectionLimit, reportRefusals } = require("./session-limit");
const { userManager, restrictWrites, offerOnlyPasswordsAndAnonymous, PASSWORD_POLICIES } = require("./user-access");

const NAMESPACE_URI = "urn:varnok:opcsim";
const APPLICATION_URI = "urn:varnok:opcsim:OrvaneOPCSim";
const PRODUCT_NAME = "OrvaneOPCSim";
const SHUTDOWN_GRACE_MS = 300;
const RELAY_CONNECT_TIMEOUT_MS = 3000;

function doubleVariant(value) {
  return new Variant({ dataType: DataType.Double, value });
}

// Puts judgeClientWrite in front of node-opcua's own checks, which let an
// array into a scalar variable and refuse an Int32 to a Double one.
// served(): whether a plant serves the variable's group now.
// wrote(): called for each write let through.
function guardClientWrites(variable, served, wrote) {
  const original = variable.writeValue;
  variable.writeValue = function writeValue(context, dataValue, ...rest) {
    const verdict = judgeClientWrite(dataValue, served());
    if (verdict.status) {
      const callback = rest[rest.length - 1];
      if (typeof callback !== "function") return Promise.resolve(verdict.status);
      callback(null, verdict.status);
      return undefined;
    }
    wrote();
    dataValue.value = doubleVariant(verdict.value);
    return original.call(this, context, dataValue, ...rest);
  };
}

// Forwards connections from [::1]:port to 127.0.0.1:port. node-opcua's
// endpoint listens on one address only, but "localhost" may resolve to ::1
// first for C++ clients.
function startLoopbackRelay(port) {
  const sockets = new Set();
  const server = net.createServer((downstream) => {
    const upstream = net.connect({ host: "127.0.0.1", port });
    sockets.add(downstream);
    sockets.add(upstream);
    upstream.setTimeout(RELAY_CONNECT_TIMEOUT_MS, () => upstream.destroy());
    upstream.once("connect", () => upstream.setTimeout(0));
    const closeBoth = () => {
      downstream.destroy();
      upstream.destroy();
      sockets.delete(downstream);
      sockets.delete(upstream);
    };
    for (const s of [downstream, upstream]) {
      s.setNoDelay(true);
      s.on("error", closeBoth);
      s.on("close", closeBoth);
    }
    downstream.pipe(upstream);
    upstream.pipe(downstream);
  });
  return new Promise((resolve) => {
    server.once("error", (err) => resolve({ error: err }));
    server.listen({ host: "::1", port, ipv6Only: true }, () => {
      resolve({
        close: () =>
          new Promise((done) => {
            for (const s of sockets) s.destroy();
            server.close(() => done());
          }),
      });
    });
  });
}

class TagSpace {
  // history: a HistoryReader, or null when there is no database.
  // writersOnly: whether only listed users may write.
  constructor(server, history, writersOnly) {
    this.server = server;
    this.history = history;
    this.addressSpace = server.engine.addressSpace;
    this.namespace = this.addressSpace.registerNamespace(NAMESPACE_URI);
    if (this.namespace.index !== 2) {
      throw new Error(`tag namespace got index ${this.namespace.index}, expected 2`);
    }
    if (writersOnly) restrictWrites(this.namespace);
    this.objects = this.addressSpace.rootFolder.objects;
    this.info = new TagInfoNodes(this.namespace);
    this.layout = new Map(); // group -> its variables' names, in browse order
    this.variables = new Map(); // group -> its variables, in the same order
    // Groups whose plant is gone: their variables carry BadNoCommunication
    // with the last value until the plant registers again.
    this.unserved = new Set();
    // group -> names of the tags clients wrote since the plant's last read,
    // and of those written before that read, until the plant shows it got
    // the answer (by calling again): a plant that registers again to resume
    // leaves both be, since its last answer may have been lost on the way.
    this.clientWritten = new Map();
    this.unconfirmed = new Map();
  }

  nodeId(text) {
    return new NodeId(NodeIdType.STRING, text, this.namespace.index);
  }

  variable(group, name) {
    const node = this.addressSpace.findNode(this.nodeId(`${group}.${name}`));
    if (!node) throw new Error(`variable ${group}.${name} is missing`);
    return node;
  }

  // Makes the group's folder hold exactly `names`, in that order, each
  // showing its info (Map tag -> info; a tag not in it shows none). A group
  // registered again with the same tags keeps its nodes (clients stay
  // subscribed) and only their info changes; another tag set (another plant
  // on the same group) replaces them, so no stale tags of an earlier plant
  // linger.
  // The group counts as served from here on; the write of every tag that
  // follows registration makes the values Good again.
  ensureGroup(group, names, info = new Map()) {
    this.unserved.delete(group);
    const ns = this.namespace;
    let folder = this.addressSpace.findNode(this.nodeId(group));
    if (!folder) {
      folder = ns.addFolder(this.objects, {
        nodeId: this.nodeId(group),
        browseName: { name: group, namespaceIndex: ns.index },
        displayName: { text: group },
      });
    }
    const current = this.layout.get(group) || [];
    if (current.length !== names.length || current.some((name, i) => name !== names[i])) {
      this._replaceVariables(group, folder, current, names);
    }
    for (const name of names) this.info.show(this.variable(group, name), info.get(name));
  }

  _replaceVariables(group, folder, current, names) {
    const ns = this.namespace;
    for (const name of current) {
      const node = this.addressSpace.findNode(this.nodeId(`${group}.${name}`));
      if (node) this.addressSpace.deleteNode(node);
    }
    const access = this.history ? "CurrentRead | CurrentWrite | HistoryRead" : "CurrentRead | CurrentWrite";
    for (const name of names) {
      const variable = ns.addVariable({
        organizedBy: folder,
        nodeId: this.nodeId(`${group}.${name}`),
        browseName: { name, namespaceIndex: ns.index },
        displayName: { text: name },
        dataType: "Double",
        valueRank: -1,
        accessLevel: access,
        userAccessLevel: access,
        historizing: this.history !== null,
        value: doubleVariant(0),
      });
      guardClientWrites(
        variable,
        () => !this.unserved.has(group),
        () => this._clientWrote(group, name),
      );
      if (this.history) this.history.serve(variable);
    }
    this.layout.set(group, [...names]);
    this.variables.set(
      group,
      names.map((name) => this.variable(group, name)),
    );
  }

  // The group's plant is gone: every variable keeps its value, marked
  // BadNoCommunication so that no controller acts on it (a viewer can still
  // show it greyed). Subscribers are notified of the status change.
  markUnserved(group) {
    this.unserved.add(group);
    const now = new Date();
    for (const name of this.layout.get(group) || []) {
      const variable = this.variable(group, name);
      const last = variable.readValue().value.value;
      variable.setValueFromSource(doubleVariant(last), StatusCodes.BadNoCommunication, now);
    }
  }

  // The values a plant registers with. resume: a tag a client wrote that
  // the plant may not have seen keeps its value (still made Good).
  writeRegistered(group, tags, { resume = false } = {}) {
    const now = new Date();
    const kept = resume ? new Set([...(this.clientWritten.get(group) || []), ...(this.unconfirmed.get(group) || [])]) : new Set();
    for (const tag of tags) {
      const variable = this.variable(group, tag.name);
      const value = kept.has(tag.name) ? this._number(variable) : tag.value;
      variable.setValueFromSource(doubleVariant(value), StatusCodes.Good, now);
    }
    if (!resume) {
      this.clientWritten.delete(group);
      this.unconfirmed.delete(group);
    }
  }

  write(group, tags) {
    this.unconfirmed.delete(group);
    const now = new Date();
    for (const tag of tags) {
      this.variable(group, tag.name).setValueFromSource(doubleVariant(tag.value), StatusCodes.Good, now);
    }
  }

  read(group, names) {
    this._reading(group);
    return names.map((name) => ({ name, value: this._number(this.variable(group, name)) }));
  }

  _clientWrote(group, name) {
    let names = this.clientWritten.get(group);
    if (!names) this.clientWritten.set(group, (names = new Set()));
    names.add(name);
  }

  // A read answers what clients wrote; it is known to have arrived only when
  // the plant calls again.
  _reading(group) {
    const written = this.clientWritten.get(group);
    if (written) this.unconfirmed.set(group, written);
    else this.unconfirmed.delete(group);
    this.clientWritten.delete(group);
  }

  // The same by place in the group's registered order, without a look-up
  // per tag: the path of every period.
  writeAt(group, indexes, values) {
    this.unconfirmed.delete(group);
    const now = new Date();
    const variables = this.variables.get(group);
    for (let i = 0; i < indexes.length; i++) {
      variables[indexes[i]].setValueFromSource(doubleVariant(values[i]), StatusCodes.Good, now);
    }
  }

  readAll(group) {
    this._reading(group);
    return this.variables.get(group).map((variable) => this._number(variable));
  }

  _number(variable) {
    const value = variable.readValue().value.value;
    // Client writes are turned into Doubles or refused, so anything else
    // is a fault here; never hand the plant a made-up value.
    if (typeof value !== "number") throw new Error(`variable ${variable.nodeId.value} holds no number`);
    return value;
  }
}

// What the endpoint URL names: the host asked for, else what clients can
// resolve: the machine's name for a wildcard address (node-opcua's default),
// IPv6 literals in brackets.
function advertisedHost(host, loopback, advertise) {
  const named = advertise || (loopback ? "localhost" : host);
  if (named === "0.0.0.0" || named === "::") return undefined;
  return net.isIPv6(named) ? `[${named}]` : named;
}

// Starts the server; resolves to { tags: TagSpace, endpointUrl, close() }.
// historyDb: a HistoryDatabase, or null for no history. users: Map name ->
// password of those who may write, or null for anyone. maxSessions: the
// sessions served at once (each client holds one, lingering ones included
// until they time out).
async function startOpcUa({ host, port, stateDir, loopback, advertiseHost = null, maxSessions, users = null, historyDb = null, log = () => {} }) {
  // User certificates are never trusted: a user is a name and a password.
  const certificateManager = (folder, acceptUnknown) =>
    new OPCUACertificateManager({
      rootFolder: path.join(stateDir, folder),
      automaticallyAcceptUnknownCertificate: acceptUnknown,
    });
  const maxConnections = connectionLimit(maxSessions);
  const server = new OPCUAServer({
    port,
    host: loopback ? "127.0.0.1" : host,
    hostname: advertisedHost(host, loopback, advertiseHost),
    serverCertificateManager: certificateManager("pki", true),
    userCertificateManager: certificateManager("user-pki", false),
    // The channel stays unsecured (what our clients speak); with users the
    // other policies only let a client encrypt its password.
    securityPolicies: users ? [SecurityPolicy.None, ...PASSWORD_POLICIES] : [SecurityPolicy.None],
    securityModes: [MessageSecurityMode.None],
    allowAnonymous: true,
    userManager: users ? userManager(users) : undefined,
    maxConnectionsPerEndpoint: maxConnections,
    serverCapabilities: {
      maxSessions,
      // node-opcua's default (100 in all) would stop a classroom at 100
      // subscribing clients; 10 per session is its own per-session default.
      maxSubscriptions: maxSessions * 10,
      maxSubscriptionsPerSession: 10,
      maxHistoryContinuationPoints: historyDb ? MAX_PER_SESSION : 0,
    },
    buildInfo: {
      productName: PRODUCT_NAME,
      productUri: APPLICATION_URI,
      manufacturerName: "varnok",
      softwareVersion: require("../package.json").version,
    },
    serverInfo: {
      applicationName: { text: PRODUCT_NAME, locale: "en" },
      applicationUri: APPLICATION_URI,
      productUri: APPLICATION_URI,
    },
  });
  await server.initialize();
  if (users) offerOnlyPasswordsAndAnonymous(server);
  reportRefusals(server, { maxSessions, maxConnections, log });
  let history = null;
  if (historyDb) {
    const points = new ContinuationPoints();
    server.on("session_closed", (session) => points.forget(session));
    history = new HistoryReader({ db: historyDb, points, log });
    // The server object reads these when a client browses its capabilities.
    Object.assign(server.engine.historyServerCapabilities, {
      accessHistoryDataCapability: true,
      maxReturnDataValues: MAX_VALUES_PER_RESPONSE,
    });
  }
  const tags = new TagSpace(server, history, users !== null);
  await server.start();

  let relay = null;
  if (loopback) {
    const result = await startLoopbackRelay(port);
    if (result.error) {
      if (result.error.code === "EADDRINUSE") {
        process.stderr.write(`opcsim: warning: [::1]:${port} is in use, OPC UA listens on 127.0.0.1 only\n`);
      }
      // EADDRNOTAVAIL / EAFNOSUPPORT: no IPv6 on this machine, nothing to relay.
    } else {
      relay = result;
    }
  }

  return {
    tags,
    endpointUrl: server.getEndpointUrl(),
    async close() {
      if (relay) await relay.close();
      await server.shutdown(SHUTDOWN_GRACE_MS);
    },
  };
}

module.exports = { startOpcUa, NAMESPACE_URI, PRODUCT_NAME };
