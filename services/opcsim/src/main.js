"use strict";
// Start-up and shut-down of the whole service.

const fs = require("node:fs");
const net = require("node:net");
const { parseArgs, UsageError, USAGE } = require("./options");

const HARD_EXIT_MS = 3000;

function log(line) {
  process.stdout.write(`opcsim: ${line}\n`);
}

class StartError extends Error {}

const isLoopback = (host) => host === "localhost";
const hostPort = (host, port) => (host.includes(":") ? `[${host}]:${port}` : `${host}:${port}`);

// Whether hosts other than this one may reach a listener on `host`. A name
// other than localhost may resolve anywhere, so it counts as beyond.
function beyondLoopback(host) {
  if (isLoopback(host) || host === "::1") return false;
  return !(net.isIPv4(host) && host.startsWith("127."));
}

// One line when others can write tags without proof of who they are.
function exposureWarning(opts) {
  if (!beyondLoopback(opts.host)) return null;
  const open = [];
  const give = [];
  if (!opts.users) {
    open.push(`${hostPort(opts.host, opts.opcuaPort)} (OPC UA)`);
    give.push("--users-file");
  }
  if (opts.gatewayToken === null) {
    open.push(`${hostPort(opts.host, opts.gatewayPort)} (gateway)`);
    give.push("--gateway-token-file");
  }
  if (open.length === 0) return null;
  return `warning: anyone who can reach ${open.join(" or ")} can write tags; give ${give.join(" and ")}`;
}

// The secrets named by the options, read before anything starts. Throws
// UsageError naming the file.
function loadSecrets(opts) {
  const { loadUsers } = require("./users-file");
  const { loadGatewayToken } = require("./gateway-token");
  const { readPrivateLine } = require("./private-file");
  const database = opts.database && { ...opts.database };
  if (database?.passwordFile) {
    database.password = readPrivateLine("VARNOK_DB_PASSWORD_FILE:", database.passwordFile, "the database password");
  }
  return {
    ...opts,
    database,
    users: opts.usersFile ? loadUsers(opts.usersFile) : null,
    gatewayToken: opts.gatewayTokenFile ? loadGatewayToken(opts.gatewayTokenFile) : null,
  };
}

// Resolves to undefined when host:port can be bound, else to the error.
function probePort(host, port) {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.once("error", (err) => resolve(err));
    server.listen({ host, port, exclusive: true }, () => server.close(() => resolve(undefined)));
  });
}

function inUse(what, host, port) {
  return new StartError(`${what} port ${port} on ${host} is already in use`);
}

// Fails before the slow libraries load when a port is taken.
async function checkPorts(opts) {
  const host = isLoopback(opts.host) ? "127.0.0.1" : opts.host;
  for (const [what, port] of [
    ["OPC UA", opts.opcuaPort],
    ["gateway", opts.gatewayPort],
  ]) {
    const err = await probePort(host, port);
    if (!err) continue;
    if (err.code === "EADDRINUSE") throw inUse(what, host, port);
    throw new StartError(`cannot listen on ${hostPort(host, port)} for ${what}: ${err.message}`);
  }
}

async function start(opts) {
  try {
    fs.mkdirSync(opts.stateDir, { recursive: true, mode: 0o700 });
  } catch (err) {
    throw new StartError(`cannot create state folder ${opts.stateDir}: ${err.message}`);
  }
  await checkPorts(opts);

  const { Registry } = require("./registry");
  const { startGateway } = require("./gateway");
  const { startOpcUa } = require("./opcua");

  const loopback = isLoopback(opts.host);
  // Not reachable now is no reason to stay down: it keeps trying, and
  // history answers say the database is missing meanwhile.
  let historyDb = null;
  if (opts.database) {
    const { HistoryDatabase } = require("./history-db");
    historyDb = new HistoryDatabase(opts.database, log);
    historyDb.start();
  }
  let opcua;
  try {
    opcua = await startOpcUa({
      host: opts.host,
      port: opts.opcuaPort,
      stateDir: opts.stateDir,
      loopback,
      advertiseHost: opts.advertiseHost,
      maxSessions: opts.maxSessions,
      users: opts.users,
      historyDb,
      log,
    });
  } catch (err) {
    if (historyDb) await historyDb.close();
    if (err.code === "EADDRINUSE" || /EADDRINUSE/.test(err.message)) {
      throw inUse("OPC UA", loopback ? "127.0.0.1" : opts.host, opts.opcuaPort);
    }
    throw new StartError(`cannot start the OPC UA server on port ${opts.opcuaPort}: ${err.message}`);
  }
  const registry = new Registry({ store: opcua.tags, defaultLeaseMs: opts.leaseMs, log });

  // The gateway comes second so that no task can register before the
  // address space exists.
  const gatewayAddresses = loopback
    ? [`127.0.0.1:${opts.gatewayPort}`, `[::1]:${opts.gatewayPort}`]
    : [hostPort(opts.host, opts.gatewayPort)];
  let gateway;
  try {
    gateway = await startGateway({ registry, addresses: gatewayAddresses, token: opts.gatewayToken });
  } catch (err) {
    await opcua.close();
    if (historyDb) await historyDb.close();
    if (/EADDRINUSE/.test(err.message)) throw inUse("gateway", loopback ? "127.0.0.1" : opts.host, opts.gatewayPort);
    throw new StartError(`cannot start the gateway on ${gatewayAddresses[0]}: ${err.message}`);
  }
  registry.start();
  log(`OPC UA on ${opcua.endpointUrl}, gateway on ${hostPort(opts.host, opts.gatewayPort)}`);
  const { openFileLimit, fileLimitWarning } = require("./session-limit");
  for (const warning of [exposureWarning(opts), fileLimitWarning(opts.maxSessions, openFileLimit())]) {
    if (warning) process.stderr.write(`opcsim: ${warning}\n`);
  }

  let stopping = null;
  return {
    registry,
    stop() {
      if (!stopping) {
        stopping = (async () => {
          registry.stop();
          registry.clear();
          await gateway.close();
          await opcua.close();
          if (historyDb) await historyDb.close();
        })();
      }
      return stopping;
    },
  };
}

async function main(argv) {
  let opts;
  try {
    opts = parseArgs(argv);
    if (opts.help) {
      process.stdout.write(USAGE);
      return 0;
    }
    opts = loadSecrets(opts);
  } catch (err) {
    if (!(err instanceof UsageError)) throw err;
    process.stderr.write(`opcsim: ${err.message}\n`);
    return 2;
  }

  // Until the service is up there is nothing to tear down: exiting closes
  // whatever sockets are already bound.
  let service = null;
  let signalled = null;
  const onSignal = (signal) => {
    if (signalled) return;
    signalled = signal;
    if (!service) process.exit(0);
    log(`stopping (${signal})`);
    // Bounded: a stuck client connection must not keep the process alive.
    setTimeout(() => process.exit(0), HARD_EXIT_MS).unref();
    service.stop().then(
      () => process.exit(0),
      (err) => {
        process.stderr.write(`opcsim: error while stopping: ${err.message}\n`);
        process.exit(0);
      },
    );
  };
  process.on("SIGTERM", onSignal);
  process.on("SIGINT", onSignal);

  try {
    service = await start(opts);
  } catch (err) {
    if (!(err instanceof StartError)) throw err;
    process.stderr.write(`opcsim: ${err.message}\n`);
    return 1;
  }
  return null; // keeps running until a signal
}

module.exports = { main, probePort };
