"use strict";
// Shared by the system tests: the services of one test run (started by
// scripts/services on ports and a state directory of their own), the built
// programs as child processes, varnok-ua and psql, always with time-outs.

const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { spawn, execFile, execFileSync } = require("node:child_process");
const { promisify } = require("node:util");

const repo = path.resolve(__dirname, "..", "..");
const buildDir = path.resolve(repo, process.env.VARNOK_BUILD_DIR || "build");
const bin = (name) => path.join(buildDir, "bin", name);
const execFileAsync = promisify(execFile);
const { before, after } = require("node:test");
const { freePort, startOpcsim, opcuaSession } = require(path.join(repo, "services", "opcsim", "test", "helpers"));
const PSQL = "/usr/lib/postgresql/15/bin/psql";
const DB = { user: "postgres", password: "plok9876", name: "tsdb_simulation" };

async function until(check, limitMs, what) {
  const deadline = Date.now() + limitMs;
  for (;;) {
    const result = await check().catch(() => false);
    if (result) return result;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Every child started here; killForgotten() ends those still running.
const children = new Set();

// A built program as a child process with its output collected.
// Gives a spawned child its collected output (both streams), a promise of
// its exit and running().
function watched(child) {
  child.output = "";
  child.stdout.setEncoding("utf8").on("data", (d) => (child.output += d));
  child.stderr.setEncoding("utf8").on("data", (d) => (child.output += d));
  child.exited = new Promise((resolve) => child.once("exit", (code, signal) => resolve({ code, signal })));
  child.running = () => child.exitCode === null && child.signalCode === null;
  return child;
}

function startProgram(name, args, { env = process.env } = {}) {
  const child = spawn(bin(name), args, { stdio: ["ignore", "pipe", "pipe"], env });
  children.add(child);
  child.once("exit", () => children.delete(child));
  return watched(child);
}

// For after-hooks: a test that failed half-way may have left children.
function killForgotten() {
  for (const child of children) child.kill("SIGKILL");
}

// The child's exit; SIGKILL when it has not exited within the limit.
async function exitOf(child, limitMs = 10000) {
  const timer = setTimeout(() => child.kill("SIGKILL"), limitMs);
  const result = await child.exited;
  clearTimeout(timer);
  return result;
}

// SIGTERM, then the exit must be a clean 0 within the limit.
async function stopProgram(child, limitMs = 10000) {
  if (child.running()) child.kill("SIGTERM");
  const { code, signal } = await exitOf(child, limitMs);
  const name = path.basename(child.spawnfile);
  assert.equal(signal, null, `${name} died by ${signal}: ${child.output}`);
  assert.equal(code, 0, `${name} exited with ${code}: ${child.output}`);
}

// The plant's tags in order, as the offline runner lists them.
function tagsOf({ program, object }) {
  const csv = execFileSync(bin("varnok-batch"), [`varnok.${program}`, object, "--steps", "1"], { encoding: "utf8" });
  return csv.split("\n")[0].split(",").slice(1);
}

class Services {
  static async start() {
    const services = new Services();
    services.state = fs.mkdtempSync(path.join(os.tmpdir(), "varnok-system-"));
    // The database server runs as the postgres user when we are root.
    fs.chmodSync(services.state, 0o755);
    services.ports = { opcua: await freePort(), gateway: await freePort(), db: await freePort() };
    services.endpoint = `opc.tcp://localhost:${services.ports.opcua}`;
    services.run("start");
    return services;
  }

  env() {
    return {
      ...process.env,
      VARNOK_STATE_DIR: this.state,
      VARNOK_OPCUA_PORT: String(this.ports.opcua),
      VARNOK_GATEWAY_PORT: String(this.ports.gateway),
      VARNOK_DB_PORT: String(this.ports.db),
    };
  }

  // scripts/services ACTION [WHICH]; its output, or its output on failure
  // when `allowFailure` (status exits 3 for a stopped service).
  run(action, which, { allowFailure = false } = {}) {
    const args = which ? [action, which] : [action];
    try {
      return execFileSync(path.join(repo, "scripts", "services"), args, {
        env: this.env(),
        timeout: 180000,
        encoding: "utf8",
      });
    } catch (e) {
      if (allowFailure && e.stdout !== undefined) return e.stdout;
      throw e;
    }
  }

  opcsimPid() {
    return Number(fs.readFileSync(path.join(this.state, "opcsim.pid"), "utf8"));
  }

  // Kills forgotten children, stops everything, removes the state directory.
  dispose() {
    killForgotten();
    try {
      this.run("stop");
    } finally {
      fs.rmSync(this.state, { recursive: true, force: true });
    }
  }

  startPlant({ program, group }, speed) {
    return startProgram(program, ["--port", String(this.ports.gateway), "--group", group, "--speed", String(speed)]);
  }

  startRecorder(group, extra = []) {
    return startProgram("varnok-record", [
      "--endpoint",
      this.endpoint,
      "--group",
      group,
      "--db-port",
      String(this.ports.db),
      ...extra,
    ]);
  }

  // varnok-record on this run's services, recording what `args` say
  // (--group, --all, ...).
  startRecording(args) {
    return startProgram("varnok-record", ["--endpoint", this.endpoint, "--db-port", String(this.ports.db), ...args]);
  }

  async ua(...args) {
    const { stdout } = await execFileAsync(bin("varnok-ua"), [this.endpoint, ...args], { timeout: 20000 });
    return stdout;
  }

  // tag -> number, in one request so that all values come from one period.
  async read(group, tags) {
    const out = await this.ua("read", ...tags.map((t) => `2:${group}.${t}`));
    const values = {};
    for (const line of out.trim().split("\n")) {
      const [node, text] = line.split("\t");
      values[node.slice(node.indexOf(".") + 1)] = Number(text);
    }
    return values;
  }

  // Rows of one query as arrays of text; `vars` become psql variables, used
  // in the query as :'name'.
  sql(query, vars = {}) {
    const args = ["-X", "-tA", "-F", "\t", "-v", "ON_ERROR_STOP=1"];
    for (const [name, value] of Object.entries(vars)) args.push("-v", `${name}=${value}`);
    args.push("-h", "127.0.0.1", "-p", String(this.ports.db), "-U", DB.user, "-d", DB.name, "-f", "-");
    const out = execFileSync(PSQL, args, {
      input: `${query};\n`,
      env: { ...process.env, PGPASSWORD: DB.password, PGCONNECT_TIMEOUT: "10" },
      encoding: "utf8",
      timeout: 20000,
    }).trim();
    return out === "" ? [] : out.split("\n").map((line) => line.split("\t"));
  }

  // The recorded values of one node id of this run's endpoint, oldest first;
  // none before the recorder's first connection created the tables.
  recorded(nodeId) {
    if (this.sql("SELECT to_regclass('tsdata') IS NULL")[0][0] === "t") return [];
    return this.sql(
      `SELECT d.value FROM tsdata d JOIN tags t USING (tag_id) JOIN sources s USING (source_id)
        WHERE s.endpoint = :'endpoint' AND t.tag_name = :'tag' ORDER BY d.ts`,
      { endpoint: this.endpoint, tag: nodeId },
    ).map(([value]) => Number(value));
  }

  // Live processes of this run: anything started with our state directory
  // or our gateway port on its command line.
  leftovers() {
    const ps = execFileSync("ps", ["-eo", "pid=,stat=,args="], { encoding: "utf8" });
    return ps
      .split("\n")
      .map((line) => line.trim())
      .filter((line) => line && !/^\d+\s+Z/.test(line))
      .filter((line) => line.includes(this.state) || line.includes(`--port ${this.ports.gateway}`))
      .filter((line) => !line.includes(" ps -eo "));
  }
}

// An opcsim of the test file's own and a node-opcua session on it, for all
// of the file's tests: `sim` and `ua` are set once the file's `before` ran.
// Children left by a failed test are killed after the file.
function opcsimWithClient() {
  const live = { sim: null, ua: null };
  before(async () => {
    live.sim = await startOpcsim();
    live.ua = await opcuaSession(live.sim.endpoint);
  });
  after(async () => {
    killForgotten();
    if (live.ua) await live.ua.close().catch(() => {});
    if (live.sim) live.sim.kill();
  });
  return live;
}

module.exports = {
  repo,
  watched,
  buildDir,
  bin,
  freePort,
  until,
  sleep,
  startProgram,
  killForgotten,
  exitOf,
  stopProgram,
  tagsOf,
  opcsimWithClient,
  Services,
};
