"use strict";
// The benchmark's command line, the one reader of it: classroom.sh runs this
// file to check the options (and to print the usage) before it starts any
// service, then main.js reads them again. Where the services are comes from
// the environment classroom.sh sets (the variables scripts/services reads).

const path = require("node:path");

const USAGE = `usage: bench/classroom.sh [--plants N] [--speeds LIST] [--seconds S] [--soak]

A class on one server: N trainees, each with a plant of their own on its own
group (G01, G02, ...; the six built-in programs and plant files in turn), a
node-opcua session per group subscribed to its CVs (publishing 1 s, sampling
0.5 s), and varnok-record recording every group. One phase per speed, each
measured for S seconds once every plant runs; then a table per phase. Starts
services of its own (opcsim and PostgreSQL on free ports, a temporary state
folder) and removes them at the end, also after Ctrl-C or a failure.

  --plants N     trainees and plants, 1..500 (default 50)
  --speeds LIST  comma-separated plant speeds, each above 0 and at most 1000
                 (default 1,10; with --soak 10)
  --seconds S    measured seconds per phase, 10..86400 (default 120; with
                 --soak 3600)
  --soak         one long phase that also prints the resident memory of
                 opcsim, the plants and the recorder every minute
  --help         show this text

Goals, marked MISSED when not met: every plant runs >= 99 % of its periods;
every session gets >= 99 % of its notifications; no session refused or
lost; no plant exits. Exit codes: 0 it ran (goals met or not), 1 it could
not run, 2 bad options.`;

class UsageError extends Error {}

function wholeNumber(name, text, min, max) {
  if (!/^\d{1,9}$/.test(text ?? "")) throw new UsageError(`${name}: expected a whole number, got "${text ?? ""}"`);
  const n = Number(text);
  if (n < min || n > max) throw new UsageError(`${name}: ${n} is not in ${min}..${max}`);
  return n;
}

function speedList(text) {
  const parts = (text ?? "").split(",");
  return parts.map((part) => {
    if (!/^(\d+(\.\d*)?|\.\d+)$/.test(part)) throw new UsageError(`--speeds: "${part}" is not a number`);
    const speed = Number(part);
    if (!(speed > 0 && speed <= 1000)) throw new UsageError(`--speeds: ${part} is not above 0 and at most 1000`);
    return speed;
  });
}

// The user's options: { help } or { plants, speeds, seconds, soak }.
function parseOptions(argv) {
  const given = {};
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) throw new UsageError(`${arg}: a value is missing`);
      return argv[++i];
    };
    switch (arg) {
      case "--help":
      case "-h":
        return { help: true };
      case "--plants":
        given.plants = wholeNumber(arg, value(), 1, 500);
        break;
      case "--speeds":
        given.speeds = speedList(value());
        break;
      case "--seconds":
        given.seconds = wholeNumber(arg, value(), 10, 86400);
        break;
      case "--soak":
        given.soak = true;
        break;
      default:
        throw new UsageError(`unknown option "${arg}" (see --help)`);
    }
  }
  const soak = given.soak === true;
  return {
    plants: given.plants ?? 50,
    speeds: given.speeds ?? (soak ? [10] : [1, 10]),
    seconds: given.seconds ?? (soak ? 3600 : 120),
    soak,
  };
}

// The options and where everything is, from the environment classroom.sh
// made; throws UsageError for either.
function parseArgs(argv, env = process.env) {
  const options = parseOptions(argv);
  if (options.help) return options;
  const need = (name) => {
    if (!env[name]) throw new UsageError(`${name} is not set; run bench/classroom.sh, not this file`);
    return env[name];
  };
  const stateDir = need("VARNOK_STATE_DIR");
  const port = (name) => wholeNumber(name, need(name), 1, 65535);
  const repo = path.resolve(__dirname, "..", "..");
  return {
    ...options,
    stateDir,
    // Not localhost, which may resolve to ::1 and go through opcsim's relay:
    // a trainee's machine reaches the server by its address.
    endpoint: `opc.tcp://127.0.0.1:${port("VARNOK_OPCUA_PORT")}`,
    gatewayPort: port("VARNOK_GATEWAY_PORT"),
    dbPort: port("VARNOK_DB_PORT"),
    pgData: need("CLASSROOM_PG_DATA"),
    pidFile: path.join(stateDir, "classroom.pids"),
    binDir: path.join(path.resolve(repo, env.VARNOK_BUILD_DIR || "build"), "bin"),
  };
}

module.exports = { USAGE, UsageError, parseOptions, parseArgs };

// classroom.sh's check: the usage on --help, a line and exit 2 for bad
// options, nothing and exit 0 for good ones.
if (require.main === module) {
  try {
    if (parseOptions(process.argv.slice(2)).help) console.log(USAGE);
  } catch (err) {
    if (!(err instanceof UsageError)) throw err;
    process.stderr.write(`classroom: ${err.message}\n${USAGE.split("\n")[0]}\n`);
    process.exit(2);
  }
}
