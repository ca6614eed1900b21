"use strict";
// Two machines on one host for the system tests: two network namespaces
// joined by a veth pair, the services started by scripts/services in the
// first, programs and an OPC UA client in the second. Needs root and `ip`.
//
// Run as a program (node netns.js ua-agent ENDPOINT) inside a namespace,
// this file is that OPC UA client: one JSON request per line of standard
// input, one JSON answer per line of standard output, a session of its own
// per request, so that a cut link spoils no later request.

const crypto = require("node:crypto");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const readline = require("node:readline");
const { spawn, spawnSync, execFileSync } = require("node:child_process");
const { freePort, Services, watched } = require("./support");

const repo = path.resolve(__dirname, "..", "..");
const opcsimDir = path.join(repo, "services", "opcsim");
const PSQL = "/usr/lib/postgresql/15/bin/psql";
const COMMAND_TIMEOUT_MS = 20000;
const SERVICES_TIMEOUT_MS = 180000;
// Each pair's link is seen only inside its own two namespaces, so parallel
// runs may all use the same subnet.
const ADDRESSES = ["10.213.7.1", "10.213.7.2"];
const PREFIX = 24;

function run(file, args, { env = process.env, timeout = COMMAND_TIMEOUT_MS, input } = {}) {
  return execFileSync(file, args, { env, timeout, input, encoding: "utf8", stdio: ["pipe", "pipe", "pipe"] });
}

const ip = (...args) => run("ip", args);

// Why namespaces cannot be made here, or null when they can: probed by
// making and removing one.
function namespacesUnavailable() {
  if (typeof process.getuid === "function" && process.getuid() !== 0) {
    return `network namespaces need root (running as uid ${process.getuid()})`;
  }
  const version = spawnSync("ip", ["-V"], { encoding: "utf8", timeout: COMMAND_TIMEOUT_MS });
  if (version.error) return `no ip command (${version.error.code}; package iproute2)`;
  const probe = `vk${process.pid}probe`;
  const made = spawnSync("ip", ["netns", "add", probe], { encoding: "utf8", timeout: COMMAND_TIMEOUT_MS });
  if (made.status !== 0) return `ip netns add failed: ${(made.stderr || String(made.error)).trim()}`;
  spawnSync("ip", ["netns", "del", probe], { timeout: COMMAND_TIMEOUT_MS });
  return null;
}

// Namespace i (0 or 1) holds veth[i] with address[i]. Names carry the pid,
// so that parallel runs do not collide.
class NamespacePair {
  constructor() {
    const tag = `vk${process.pid}`;
    this.names = [`${tag}a`, `${tag}b`];
    this.veth = [`${tag}x`, `${tag}y`];
    this.address = ADDRESSES;
    this.made = [];
    this.children = new Set();
  }

  // Throws when a step fails; remove() undoes whatever was made.
  create() {
    for (const name of this.names) {
      ip("netns", "add", name);
      this.made.push(name);
      ip("-n", name, "link", "set", "lo", "up");
    }
    ip("link", "add", this.veth[0], "type", "veth", "peer", "name", this.veth[1]);
    this.names.forEach((name, i) => {
      ip("link", "set", this.veth[i], "netns", name);
      ip("-n", name, "addr", "add", `${this.address[i]}/${PREFIX}`, "dev", this.veth[i]);
      ip("-n", name, "link", "set", this.veth[i], "up");
    });
  }

  // The link as the second namespace's machine sees it: its cable in or out.
  setLink(up) {
    ip("-n", this.names[1], "link", "set", this.veth[1], up ? "up" : "down");
  }

  // Runs a command in namespace i and returns its standard output.
  execIn(i, file, args, options) {
    return run("ip", ["netns", "exec", this.names[i], file, ...args], options);
  }

  // A long-running command in namespace i with its output collected;
  // `ip netns exec` execs it, so the child is the command itself. `name`
  // names it in messages.
  spawnIn(i, file, args, { env = process.env, name = path.basename(file), stdin = "ignore" } = {}) {
    const child = spawn("ip", ["netns", "exec", this.names[i], file, ...args], {
      stdio: [stdin, "pipe", "pipe"],
      env,
    });
    this.children.add(child);
    child.once("exit", () => this.children.delete(child));
    child.name = name;
    return watched(child);
  }

  // Pids of every process in namespace i, its daemons included.
  pids(i) {
    if (!this.made.includes(this.names[i])) return [];
    return ip("netns", "pids", this.names[i])
      .split("\n")
      .map((l) => Number(l.trim()))
      .filter((pid) => pid > 0);
  }

  // Kills whatever still runs in the namespaces and deletes them, the veth
  // pair with them. Safe to call after a half-made create().
  remove() {
    for (const child of this.children) child.kill("SIGKILL");
    for (const i of [0, 1]) {
      for (const pid of this.pids(i)) {
        try {
          process.kill(pid, "SIGKILL");
        } catch {
          // gone already
        }
      }
    }
    // A veth made before it moved into a namespace would outlive it.
    spawnSync("ip", ["link", "del", this.veth[0]], { stdio: "ignore", timeout: COMMAND_TIMEOUT_MS });
    for (const name of this.made.splice(0)) ip("netns", "del", name);
  }
}

// A folder of mode 700 with the secrets of one run, each file of mode 600:
// the database password, an OPC UA user, the gateway token.
function writeSecrets() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "varnok-secrets-"));
  const file = (name, text) => {
    const where = path.join(dir, name);
    fs.writeFileSync(where, text, { mode: 0o600 });
    return where;
  };
  const random = () => crypto.randomBytes(12).toString("hex");
  const user = { userName: "operator", password: random() };
  const dbPassword = random();
  return {
    dir,
    user,
    dbPassword,
    dbPasswordFile: file("db-password", `${dbPassword}\n`),
    usersFile: file("users", `${user.userName}:${user.password}\n`),
    gatewayTokenFile: file("gateway-token", `${random()}\n`),
    remove: () => fs.rmSync(dir, { recursive: true, force: true }),
  };
}

// scripts/services run inside the pair's first namespace on its address,
// with the run's secrets; what support.js's Services offers on top of run()
// and sql() (recorded(), opcsimPid(), dispose()) works unchanged.
class NamespacedServices extends Services {
  static async start(pair, secrets) {
    const services = new NamespacedServices();
    services.pair = pair;
    services.secrets = secrets;
    services.host = pair.address[0];
    services.state = fs.mkdtempSync(path.join(os.tmpdir(), "varnok-netns-"));
    // The database server runs as the postgres user when we are root.
    fs.chmodSync(services.state, 0o755);
    // Any port is free in a new namespace; distinct ones are all we need.
    services.ports = { opcua: await freePort(), gateway: await freePort(), db: await freePort() };
    services.endpoint = `opc.tcp://${services.host}:${services.ports.opcua}`;
    try {
      services.run("start");
    } catch (err) {
      // A half-started run is stopped and its state removed here: the
      // caller never gets the object to dispose of.
      try {
        services.dispose();
      } catch {
        // the start's error says more
      }
      throw err;
    }
    return services;
  }

  env() {
    const env = {
      ...super.env(),
      VARNOK_HOST: this.host,
      VARNOK_DB_PASSWORD_FILE: this.secrets.dbPasswordFile,
      VARNOK_OPCSIM_USERS_FILE: this.secrets.usersFile,
      VARNOK_GATEWAY_TOKEN_FILE: this.secrets.gatewayTokenFile,
    };
    delete env.VARNOK_DB_PASSWORD;
    return env;
  }

  // What a program on the second machine is given: where the services are
  // and the secrets it needs, nothing on its command line.
  clientEnv() {
    const env = { ...this.env() };
    delete env.VARNOK_OPCSIM_USERS_FILE;
    delete env.VARNOK_STATE_DIR;
    return env;
  }

  run(action, which, { allowFailure = false } = {}) {
    const args = which ? [action, which] : [action];
    try {
      return this.pair.execIn(0, path.join(repo, "scripts", "services"), args, {
        env: this.env(),
        timeout: SERVICES_TIMEOUT_MS,
      });
    } catch (e) {
      if (allowFailure && e.stdout !== undefined) return e.stdout;
      throw e;
    }
  }

  // As Services.sql, over loopback inside the first namespace.
  sql(query, vars = {}) {
    const args = ["-X", "-tA", "-F", "\t", "-v", "ON_ERROR_STOP=1"];
    for (const [name, value] of Object.entries(vars)) args.push("-v", `${name}=${value}`);
    args.push("-h", "127.0.0.1", "-p", String(this.ports.db), "-U", "postgres", "-d", "tsdb_simulation", "-f", "-");
    const out = this.pair
      .execIn(0, PSQL, args, {
        input: `${query};\n`,
        env: { ...process.env, PGPASSWORD: this.secrets.dbPassword, PGCONNECT_TIMEOUT: "10" },
      })
      .trim();
    return out === "" ? [] : out.split("\n").map((line) => line.split("\t"));
  }
}

// The parent's end of an agent: request() sends one request and resolves
// with its answer, rejecting when none comes within the limit.
class UaAgent {
  constructor(pair, i, endpoint) {
    this.child = pair.spawnIn(i, process.execPath, [__filename, "ua-agent", endpoint], { name: "OPC UA agent", stdin: "pipe" });
    this.pending = new Map();
    this.next = 1;
    readline.createInterface({ input: this.child.stdout }).on("line", (line) => this.settle(line));
    this.child.exited.then(() => {
      for (const { reject, timer } of this.pending.values()) {
        clearTimeout(timer);
        reject(new Error(`the OPC UA agent exited: ${this.child.output}`));
      }
      this.pending.clear();
    });
  }

  settle(line) {
    if (!line.startsWith("{")) return; // node-opcua's own notes
    const answer = JSON.parse(line);
    const waiting = this.pending.get(answer.id);
    if (!waiting) return;
    this.pending.delete(answer.id);
    clearTimeout(waiting.timer);
    if (answer.error) waiting.reject(new Error(answer.error));
    else waiting.resolve(answer);
  }

  request(body, limitMs = 15000) {
    const id = this.next++;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new Error(`no answer to ${JSON.stringify(body)} within ${limitMs} ms`));
      }, limitMs);
      this.pending.set(id, { resolve, reject, timer });
      this.child.stdin.write(`${JSON.stringify({ id, ...body })}\n`);
    });
  }

  // tag -> number, from one read of the group's tags.
  async read(group, tags) {
    const { values } = await this.request({ op: "read", nodeIds: tags.map((t) => `ns=2;s=${group}.${t}`) });
    return Object.fromEntries(tags.map((t, i) => [t, values[i]]));
  }

  // The write's status name (Good, BadUserAccessDenied ...); anonymous
  // unless `user` ({ userName, password }) is given.
  async write(group, tag, value, user) {
    const { status } = await this.request({ op: "write", nodeId: `ns=2;s=${group}.${tag}`, value, user });
    return status;
  }

  // Ends the agent by closing its input; it removes its own temp folders.
  async close(limitMs = 10000) {
    if (!this.child.running()) return;
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill("SIGKILL"), limitMs);
    await this.child.exited;
    clearTimeout(timer);
  }
}

// The agent itself, inside the namespace.
async function agentMain(endpoint) {
  const { opcuaSession } = require(path.join(opcsimDir, "test", "helpers"));
  const { AttributeIds, DataType } = require(require.resolve("node-opcua-client", { paths: [opcsimDir] }));
  const answer = (body) => process.stdout.write(`${JSON.stringify(body)}\n`);
  const handle = async (request) => {
    const ua = await opcuaSession(endpoint, request.user);
    try {
      if (request.op === "read") {
        const values = await ua.session.read(request.nodeIds.map((nodeId) => ({ nodeId, attributeId: AttributeIds.Value })));
        return { values: values.map((v) => v.value.value) };
      }
      if (request.op === "write") {
        const status = await ua.session.write({
          nodeId: request.nodeId,
          attributeId: AttributeIds.Value,
          value: { value: { dataType: DataType.Double, value: request.value } },
        });
        return { status: status.name };
      }
      throw new Error(`unknown op ${request.op}`);
    } finally {
      await ua.close().catch(() => {});
    }
  };
  // One at a time: requests come from one test that awaits each.
  const lines = readline.createInterface({ input: process.stdin });
  for await (const line of lines) {
    const request = JSON.parse(line);
    try {
      answer({ id: request.id, ...(await handle(request)) });
    } catch (err) {
      answer({ id: request.id, error: err.message });
    }
  }
  process.exit(0);
}

if (require.main === module) {
  if (process.argv[2] !== "ua-agent" || !process.argv[3]) {
    process.stderr.write("usage: node netns.js ua-agent ENDPOINT\n");
    process.exit(2);
  }
  agentMain(process.argv[3]).catch((err) => {
    process.stderr.write(`ua-agent: ${err.stack}\n`);
    process.exit(1);
  });
}

module.exports = { namespacesUnavailable, NamespacePair, NamespacedServices, writeSecrets, UaAgent };
