"use strict";
// Command line of bin/opcsim.js. Kept free of node-opcua and gRPC so that
// a bad option is reported before the slow libraries load.

const os = require("node:os");
const path = require("node:path");

const LEASE_MIN_MS = 100;
const LEASE_MAX_MS = 3600000;
const MAX_SESSIONS_DEFAULT = 250;
const MAX_SESSIONS_LIMIT = 10000;

// The recorder's database, as the C++ programs and scripts/services know it.
const DB_DEFAULTS = { host: "localhost", port: 22400, database: "tsdb_simulation", user: "postgres", password: "plok9876" };

const USAGE = `usage: opcsim [options]

Simulation OPC UA server with a gRPC gateway for model tasks.

  --host HOST          listening host (default: localhost = 127.0.0.1 and ::1);
                       0.0.0.0 or :: for every interface
  --advertise-host H   host name in the endpoint URL given to OPC UA clients
                       (default: the listening host; for 0.0.0.0 or ::
                       the machine's name)
  --opcua-port N       OPC UA port (default: 22200)
  --gateway-port N     gateway gRPC port (default: 22210)
  --state-dir DIR      folder for certificates and PKI
                       (default: \${XDG_STATE_HOME:-$HOME/.local/state}/varnok/opcsim)
  --lease-ms N         default session lease in ms, ${LEASE_MIN_MS}..${LEASE_MAX_MS} (default: 5000)
  --db-host HOST       host of the recorder's database, answering HistoryRead
                       (default: \$VARNOK_HOST or localhost)
  --db-port N          its port (default: \$VARNOK_DB_PORT or ${DB_DEFAULTS.port})
  --no-history         no database: HistoryRead is not supported
  --max-sessions N     concurrent OPC UA sessions, 1..${MAX_SESSIONS_LIMIT}
                       (default: \$VARNOK_OPCSIM_MAX_SESSIONS or ${MAX_SESSIONS_DEFAULT})
  --users-file PATH    name:password lines; only these users may write tags,
                       anonymous sessions may still read (default:
                       \$VARNOK_OPCSIM_USERS_FILE; without it anyone may write)
  --gateway-token-file PATH
                       gateway calls must carry "authorization: Bearer
                       <first line of PATH>" (default: \$VARNOK_GATEWAY_TOKEN_FILE)
  --help               show this text
`;

class UsageError extends Error {}

function defaultStateDir(env) {
  const base = env.XDG_STATE_HOME || path.join(env.HOME || os.homedir(), ".local", "state");
  return path.join(base, "varnok", "opcsim");
}

function parsePort(name, text) {
  if (!/^\d{1,5}$/.test(text)) throw new UsageError(`${name}: expected a port number, got "${text}"`);
  const port = Number(text);
  if (port < 1 || port > 65535) throw new UsageError(`${name}: port ${port} is out of range 1..65535`);
  return port;
}

function parseLease(text) {
  if (!/^\d{1,10}$/.test(text)) throw new UsageError(`--lease-ms: expected milliseconds, got "${text}"`);
  const ms = Number(text);
  if (ms < LEASE_MIN_MS || ms > LEASE_MAX_MS) {
    throw new UsageError(`--lease-ms: ${ms} is out of range ${LEASE_MIN_MS}..${LEASE_MAX_MS}`);
  }
  return ms;
}

function parseHost(text, name = "--host") {
  // Accept "[::1]" as well as "::1"; the brackets are added back where an
  // address needs them.
  const host = text.replace(/^\[(.*)\]$/, "$1");
  if (host === "" || /[\s\/\[\]]/.test(host)) throw new UsageError(`${name}: invalid host "${text}"`);
  return host;
}

function parseMaxSessions(name, text) {
  if (!/^\d{1,6}$/.test(text)) throw new UsageError(`${name}: expected a number of sessions, got "${text}"`);
  const n = Number(text);
  if (n < 1 || n > MAX_SESSIONS_LIMIT) throw new UsageError(`${name}: ${n} is out of range 1..${MAX_SESSIONS_LIMIT}`);
  return n;
}

function parsePath(name, text) {
  if (text === "") throw new UsageError(`${name}: empty path`);
  return path.resolve(text);
}

// Unset or empty variables keep the default, as in the C++ programs.
function databaseFromEnvironment(env) {
  const db = { ...DB_DEFAULTS };
  if (env.VARNOK_HOST) db.host = parseHost(env.VARNOK_HOST, "VARNOK_HOST");
  if (env.VARNOK_DB_PORT) db.port = parsePort("VARNOK_DB_PORT", env.VARNOK_DB_PORT);
  // The password itself, or the file it is in (read with the other secrets).
  if (env.VARNOK_DB_PASSWORD && env.VARNOK_DB_PASSWORD_FILE) {
    throw new UsageError("VARNOK_DB_PASSWORD and VARNOK_DB_PASSWORD_FILE are both set; set only one");
  }
  if (env.VARNOK_DB_PASSWORD) db.password = env.VARNOK_DB_PASSWORD;
  if (env.VARNOK_DB_PASSWORD_FILE) db.passwordFile = path.resolve(env.VARNOK_DB_PASSWORD_FILE);
  return db;
}

// Returns { help: true } or the full option set; throws UsageError.
function parseArgs(argv, env = process.env) {
  const opts = {
    host: "localhost",
    opcuaPort: 22200,
    gatewayPort: 22210,
    stateDir: defaultStateDir(env),
    advertiseHost: null,
    leaseMs: 5000,
    database: databaseFromEnvironment(env),
    maxSessions: env.VARNOK_OPCSIM_MAX_SESSIONS
      ? parseMaxSessions("VARNOK_OPCSIM_MAX_SESSIONS", env.VARNOK_OPCSIM_MAX_SESSIONS)
      : MAX_SESSIONS_DEFAULT,
    usersFile: env.VARNOK_OPCSIM_USERS_FILE ? path.resolve(env.VARNOK_OPCSIM_USERS_FILE) : null,
    gatewayTokenFile: env.VARNOK_GATEWAY_TOKEN_FILE ? path.resolve(env.VARNOK_GATEWAY_TOKEN_FILE) : null,
  };
  let history = true;
  for (let i = 0; i < argv.length; i++) {
    let arg = argv[i];
    let value;
    const eq = arg.indexOf("=");
    if (arg.startsWith("--") && eq > 0) {
      value = arg.slice(eq + 1);
      arg = arg.slice(0, eq);
    }
    if (arg === "--help" || arg === "-h") return { help: true };
    const takeValue = () => {
      if (value !== undefined) return value;
      if (i + 1 >= argv.length) throw new UsageError(`${arg}: missing value`);
      return argv[++i];
    };
    switch (arg) {
      case "--host":
        opts.host = parseHost(takeValue());
        break;
      case "--opcua-port":
        opts.opcuaPort = parsePort(arg, takeValue());
        break;
      case "--gateway-port":
        opts.gatewayPort = parsePort(arg, takeValue());
        break;
      case "--advertise-host":
        opts.advertiseHost = parseHost(takeValue(), arg);
        break;
      case "--state-dir":
        opts.stateDir = parsePath(arg, takeValue());
        break;
      case "--lease-ms":
        opts.leaseMs = parseLease(takeValue());
        break;
      case "--db-host":
        opts.database.host = parseHost(takeValue(), arg);
        break;
      case "--db-port":
        opts.database.port = parsePort(arg, takeValue());
        break;
      case "--max-sessions":
        opts.maxSessions = parseMaxSessions(arg, takeValue());
        break;
      case "--users-file":
        opts.usersFile = parsePath(arg, takeValue());
        break;
      case "--gateway-token-file":
        opts.gatewayTokenFile = parsePath(arg, takeValue());
        break;
      case "--no-history":
        if (value !== undefined) throw new UsageError("--no-history takes no value");
        history = false;
        break;
      default:
        throw new UsageError(`unknown option "${argv[i]}" (try --help)`);
    }
  }
  if (opts.opcuaPort === opts.gatewayPort) {
    throw new UsageError(`--opcua-port and --gateway-port are both ${opts.opcuaPort}`);
  }
  if (!history) opts.database = null;
  return opts;
}

module.exports = { parseArgs, UsageError, USAGE, LEASE_MIN_MS, LEASE_MAX_MS, DB_DEFAULTS, MAX_SESSIONS_DEFAULT };
