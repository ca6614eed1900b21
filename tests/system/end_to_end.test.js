"use strict";
// The whole system from the built tree, the way a user runs it: the services
// started by scripts/services (on ports of their own), every built-in plant
// program on its default group at high speed, one after another, checked
// with varnok-ua; the viewer's recorder on one group with its rows read back
// from PostgreSQL; then everything stopped and nothing left running.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const { spawn, execFile, execFileSync } = require("node:child_process");
const { promisify } = require("node:util");

const run = promisify(execFile);
const repo = path.resolve(__dirname, "..", "..");
const buildDir = path.resolve(repo, process.env.VARNOK_BUILD_DIR || "build");
const bin = (name) => path.join(buildDir, "bin", name);
const SPEED = 10;

// One MV step per plant and the CVs it must reach after their dead times
// (whole periods). Each CV is compared with a copy the step does not reach,
// so noise and disturbances, shared by both copies, cancel exactly.
const PLANTS = [
  { program: "SISO", object: "TrainingSISO", group: "S1", mv: "MV1", paths: [["CV1", "OPEN_CV1", 17]] },
  { program: "Brinell", object: "Brinell", group: "S1", mv: "MV1", paths: [["CV1", "OPEN_CV1", 17]] },
  {
    program: "Calder",
    object: "MIMOModel_2x3",
    group: "S1",
    mv: "MV1",
    paths: [
      ["CV1", "OPEN_CV1", 5],
      ["CV2", "OPEN_CV2", 7],
      ["CV3", "OPEN_CV3", 5],
    ],
  },
  {
    program: "Fractor",
    object: "Fractor",
    group: "S1",
    mv: "MV1",
    paths: [
      ["CV1", "OPEN_CV1", 25],
      ["CV2", "OPEN_CV2", 17],
      ["CV3", "OPEN_CV3", 4],
    ],
  },
  // The profile holds the operating point at 80 for the first 500 periods.
  { program: "Dunmore", object: "LPV_SISO_process", group: "LPV1", mv: "MV1_A", paths: [["CV1_A", "CV1_B", 4]] },
  { program: "Farrow", object: "DV_process", group: "S7", mv: "MV1_A", paths: [["CV1_A", "CV1_B", 15]] },
];

let state;
let ports;
let endpoint;
const children = new Set();

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once("error", reject);
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function servicesEnv() {
  return {
    ...process.env,
    VARNOK_STATE_DIR: state,
    VARNOK_OPCUA_PORT: String(ports.opcua),
    VARNOK_GATEWAY_PORT: String(ports.gateway),
    VARNOK_DB_PORT: String(ports.db),
  };
}

function services(action) {
  return execFileSync(path.join(repo, "scripts", "services"), [action], {
    env: servicesEnv(),
    timeout: 180000,
    encoding: "utf8",
  });
}

async function ua(...args) {
  const { stdout } = await run(bin("varnok-ua"), [endpoint, ...args], { timeout: 20000 });
  return stdout;
}

// tag -> number, read in one request so that all values come from one period.
async function read(group, tags) {
  const out = await ua("read", ...tags.map((t) => `2:${group}.${t}`));
  const values = {};
  for (const line of out.trim().split("\n")) {
    const [node, text] = line.split("\t");
    values[node.slice(node.indexOf(".") + 1)] = Number(text);
  }
  return values;
}

async function until(check, limitMs, what) {
  const deadline = Date.now() + limitMs;
  for (;;) {
    const result = await check().catch(() => false);
    if (result) return result;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

function startPlant({ program, group }) {
  const child = spawn(
    bin(program),
    ["--port", String(ports.gateway), "--group", group, "--speed", String(SPEED)],
    { stdio: ["ignore", "pipe", "pipe"] },
  );
  child.output = "";
  child.stdout.setEncoding("utf8").on("data", (d) => (child.output += d));
  child.stderr.setEncoding("utf8").on("data", (d) => (child.output += d));
  child.exited = new Promise((resolve) => child.once("exit", (code, signal) => resolve({ code, signal })));
  children.add(child);
  return child;
}

async function stopPlant(child) {
  if (child.exitCode === null && child.signalCode === null) child.kill("SIGTERM");
  const { code, signal } = await child.exited;
  children.delete(child);
  assert.equal(signal, null, `the plant died by ${signal}: ${child.output}`);
  assert.equal(code, 0, `the plant exited with ${code}: ${child.output}`);
}

function tagsOf({ program, object }) {
  const csv = execFileSync(bin("varnok-batch"), [`varnok.${program}`, object, "--steps", "1"], { encoding: "utf8" });
  return csv.split("\n")[0].split(",").slice(1);
}

// Processes that belong to this run: anything started with our state
// directory or our gateway port on its command line.
function leftovers() {
  const ps = execFileSync("ps", ["-eo", "pid=,stat=,args="], { encoding: "utf8" });
  return ps
    .split("\n")
    .map((line) => line.trim())
    .filter((line) => line && !/^\d+\s+Z/.test(line))
    .filter((line) => line.includes(state) || line.includes(`--port ${ports.gateway}`))
    .filter((line) => !line.includes(" ps -eo "));
}

before(async () => {
  state = fs.mkdtempSync(path.join(os.tmpdir(), "varnok-e2e-"));
  // The database server runs as the postgres user when we are root.
  fs.chmodSync(state, 0o755);
  ports = { opcua: await freePort(), gateway: await freePort(), db: await freePort() };
  endpoint = `opc.tcp://localhost:${ports.opcua}`;
  services("start");
});

after(async () => {
  for (const child of children) child.kill("SIGKILL");
  if (state) {
    try {
      services("stop");
    } finally {
      fs.rmSync(state, { recursive: true, force: true });
    }
  }
});

for (const plant of PLANTS) {
  test(`${plant.program} on ${plant.group}: every tag served, an ${plant.mv} step reaches its CVs after their dead times`, async () => {
    const child = startPlant(plant);
    try {
      const expected = tagsOf(plant);
      const names = await until(async () => {
        const lines = (await ua("browse", "2", plant.group)).trim().split("\n");
        return lines.length === expected.length && lines.map((l) => l.split("\t")[1]);
      }, 20000, `group ${plant.group}`);
      assert.deepEqual(names, expected);
      await until(async () => (await read(plant.group, ["RunCount"])).RunCount >= 2, 10000, "two periods");

      const watched = ["RunCount", ...plant.paths.flatMap(([cv, ref]) => [cv, ref])];
      const start = await read(plant.group, [plant.mv, ...watched]);
      const diff = (values, cv, ref) => values[cv] - values[ref];
      await ua("write", `2:${plant.group}.${plant.mv}`, String(start[plant.mv] + 1));
      const written = (await read(plant.group, ["RunCount"])).RunCount;

      // The step is first read in a period c with start.RunCount < c <= written + 1;
      // each CV first moves in a period p with stillAt < p <= movedAt.
      const stillAt = Object.fromEntries(plant.paths.map(([cv]) => [cv, start.RunCount]));
      const movedAt = {};
      const longest = Math.max(...plant.paths.map(([, , dead]) => dead));
      await until(async () => {
        const now = await read(plant.group, watched);
        for (const [cv, ref] of plant.paths) {
          if (cv in movedAt) continue;
          if (diff(now, cv, ref) === diff(start, cv, ref)) stillAt[cv] = now.RunCount;
          else movedAt[cv] = now.RunCount;
        }
        return Object.keys(movedAt).length === plant.paths.length;
      }, ((longest + 20) * 1000) / SPEED + 10000, `the step to reach ${plant.paths.map(([cv]) => cv)}`);

      for (const [cv, , dead] of plant.paths) {
        const fewest = stillAt[cv] + 1 - (written + 1);
        const most = movedAt[cv] - (start.RunCount + 1);
        assert.ok(fewest <= dead && dead <= most, `${cv} moved ${fewest}..${most} periods after the step, not ${dead}`);
        assert.ok(most - fewest <= 8, `${cv}: sampling too coarse to tell (${fewest}..${most})`);
      }
    } finally {
      await stopPlant(child);
    }
  });
}

test("the viewer's recorder stores every tag of a running plant, written values included", async () => {
  const plant = PLANTS.find((p) => p.program === "Farrow");
  const child = startPlant(plant);
  try {
    // The group still holds the values of the earlier run until this plant
    // registers it again and publishes its own.
    const stale = (await read(plant.group, ["RunCount"])).RunCount;
    await until(async () => (await read(plant.group, ["RunCount"])).RunCount !== stale, 20000, "the plant");
    await ua("write", `2:${plant.group}.BK1`, "123.5");
    const { stdout } = await run(
      bin("varnok-record"),
      ["--endpoint", endpoint, "--group", plant.group, "--period", "200", "--seconds", "3", "--db-port", String(ports.db)],
      { timeout: 30000 },
    );
    const polls = Number(/(\d+) polls/.exec(stdout)?.[1]);
    assert.ok(polls >= 5, stdout);

    const sql = `SELECT t.tag_name, count(*), max(d.value), min(d.value)
                   FROM tsdata d JOIN tags t USING (tag_id) JOIN sources s USING (source_id)
                  WHERE s.endpoint = :'endpoint' GROUP BY t.tag_name, t.tag_id ORDER BY t.tag_id`;
    const rows = execFileSync(
      "/usr/lib/postgresql/15/bin/psql",
      ["-X", "-tA", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-v", `endpoint=${endpoint}`,
       "-h", "127.0.0.1", "-p", String(ports.db), "-U", "postgres", "-d", "tsdb_simulation", "-f", "-"],
      {
        input: `${sql};\n`,
        env: { ...process.env, PGPASSWORD: "plok9876", PGCONNECT_TIMEOUT: "10" },
        encoding: "utf8",
        timeout: 20000,
      },
    )
      .trim()
      .split("\n")
      .map((line) => line.split("\t"));
    assert.deepEqual(
      rows.map(([name]) => name),
      tagsOf(plant).map((tag) => `2:${plant.group}.${tag}`),
    );
    for (const [name, count] of rows) assert.equal(Number(count), polls, `${name} has ${count} rows, not ${polls}`);
    const byName = Object.fromEntries(rows.map(([name, , max, min]) => [name, { max: Number(max), min: Number(min) }]));
    assert.deepEqual(byName[`2:${plant.group}.BK1`], { max: 123.5, min: 123.5 });
    const runCount = byName[`2:${plant.group}.RunCount`];
    assert.ok(runCount.max > runCount.min, `RunCount stood at ${runCount.min}`);
  } finally {
    await stopPlant(child);
  }
});

test("stopping the services leaves nothing of this run running", () => {
  services("stop");
  const status = (() => {
    try {
      return execFileSync(path.join(repo, "scripts", "services"), ["status"], { env: servicesEnv(), encoding: "utf8" });
    } catch (e) {
      return e.stdout;
    }
  })();
  assert.match(status, /opcsim: stopped/);
  assert.match(status, /db: stopped/);
  assert.deepEqual(leftovers(), []);
});
