"use strict";
// Fault drills on the whole system: services started by scripts/services,
// real plant programs, the viewer's recorder. Each drill breaks one thing
// while the rest runs and checks that the rest carries on, nothing is lost
// and nothing is left running.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const crypto = require("node:crypto");
const fs = require("node:fs");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const { spawnSync } = require("node:child_process");
const { repo, until, sleep, freePort, startProgram, exitOf, stopProgram, Services } = require("./support");

const SPEED = 10;
const SISO = { program: "SISO", object: "TrainingSISO", group: "S1" };
const DB_LOST = "数据库连接失败，暂停记录";
const DB_BACK = "数据库已重新连接，恢复记录";

let services;

before(async () => {
  services = await Services.start();
});

after(() => services?.dispose());

const runCount = async () => (await services.read(SISO.group, ["RunCount"])).RunCount;
const recordedRunCounts = () => services.recorded(`2:${SISO.group}.RunCount`);
const countOf = (text, line) => text.split("\n").filter((l) => l.includes(line)).length;

function assertNonDecreasing(values, what) {
  for (let i = 1; i < values.length; i++) {
    assert.ok(values[i] >= values[i - 1], `${what} went back from ${values[i - 1]} to ${values[i]}`);
  }
}

// The SISO plant once it publishes; the group may still hold the values of
// an earlier run until then.
async function startSiso() {
  const stale = await runCount().catch(() => undefined);
  const plant = services.startPlant(SISO, SPEED);
  await until(async () => {
    const now = await runCount();
    return now !== stale && now >= 3;
  }, 20000, "the plant");
  return plant;
}

// A plant and the recorder on its group, both running; `earlier` counts the
// RunCount rows of earlier runs.
async function plantAndRecorder() {
  const plant = await startSiso();
  const recorder = services.startRecorder(SISO.group, ["--period", "200"]);
  const earlier = recordedRunCounts().length;
  await until(async () => recordedRunCounts().length >= earlier + 3, 20000, "the recorder");
  return { plant, recorder, earlier };
}

test("opcsim killed and restarted: the plant resumes where it was and the recorder records again", async () => {
  const { plant, recorder, earlier } = await plantAndRecorder();
  try {
    const before = await runCount();
    process.kill(-services.opcsimPid(), "SIGKILL");
    await sleep(1500);
    assert.ok(plant.running(), `the plant ended with the server: ${plant.output}`);
    assert.ok(recorder.running(), `the recorder ended with the server: ${recorder.output}`);

    services.run("start", "opcsim");
    const resumed = await until(async () => {
      const now = await runCount();
      return now > before && now;
    }, 30000, "the plant to publish again");
    // The plant kept its state: no period ran while the server was away.
    assert.ok(resumed <= before + 10, `RunCount jumped from ${before} to ${resumed}`);
    await until(async () => recordedRunCounts().some((v) => v > resumed), 30000, "the recorder to record again");
    assertNonDecreasing(recordedRunCounts().slice(earlier), "recorded RunCount");
  } finally {
    await stopProgram(recorder);
    await stopProgram(plant);
  }
});

test("PostgreSQL stopped and restarted while recording: recording resumes, the gap is reported once", async () => {
  const { plant, recorder, earlier } = await plantAndRecorder();
  try {
    services.run("stop", "db");
    await sleep(3000);
    services.run("start", "db");
    const back = await runCount();
    await until(async () => recordedRunCounts().some((v) => v > back), 30000, "the recorder to record again");
    assert.ok(plant.running() && recorder.running());
  } finally {
    await stopProgram(recorder);
    await stopProgram(plant);
  }
  assert.equal(countOf(recorder.output, DB_LOST), 1, recorder.output);
  assert.equal(countOf(recorder.output, DB_BACK), 1, recorder.output);
  assertNonDecreasing(recordedRunCounts().slice(earlier), "recorded RunCount");
});

// Opens a connection and sends `bytes`; the connection stays open until
// `keep` resolves.
function sendGarbage(port, bytes, keep) {
  const socket = net.connect(port, "127.0.0.1");
  socket.on("error", () => {});
  socket.on("connect", () => socket.write(bytes));
  keep.then(() => socket.destroy());
}

test("garbage on the gateway and OPC UA ports disturbs neither the server nor a plant", async () => {
  const pid = services.opcsimPid();
  let release;
  const keep = new Promise((r) => (release = r));
  const hello = Buffer.alloc(32);
  hello.write("HELF", 0, "latin1");
  hello.writeUInt32LE(0xffffffff, 4); // a message that claims 4 GiB
  const payloads = [
    crypto.randomBytes(65536),
    Buffer.from("GET / HTTP/1.1\r\nHost: x\r\n\r\n"),
    Buffer.concat([Buffer.from("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n"), crypto.randomBytes(4096)]),
    Buffer.alloc(0), // connected and silent
  ];
  for (const port of [services.ports.gateway, services.ports.opcua]) {
    for (const bytes of [...payloads, hello]) sendGarbage(port, bytes, keep);
  }
  await sleep(500);

  const plant = await startSiso();
  try {
    const first = await runCount();
    await until(async () => (await runCount()) >= first + 5, 10000, "five more periods");
    await services.ua("write", `2:${SISO.group}.BK3`, "7.25");
    assert.deepEqual(await services.read(SISO.group, ["BK3"]), { BK3: 7.25 });
    assert.equal(services.opcsimPid(), pid);
    assert.match(services.run("status", "opcsim"), new RegExp(`running \\(pid ${pid}`));
  } finally {
    release();
    await stopProgram(plant);
  }
});

test("a peer that answers the recorder with garbage ends its run with one line, nothing recorded", async () => {
  const server = net.createServer((socket) => {
    socket.on("error", () => {});
    socket.on("data", () => socket.write(crypto.randomBytes(512)));
  });
  const port = await freePort();
  await new Promise((r) => server.listen(port, "127.0.0.1", r));
  try {
    const endpoint = `opc.tcp://127.0.0.1:${port}`;
    const recorder = startProgram("varnok-record", ["--endpoint", endpoint, "--db-port", String(services.ports.db)]);
    const { code } = await exitOf(recorder, 30000);
    assert.equal(code, 1, recorder.output);
    assert.match(recorder.output, /创建 source 失败/);
    assert.equal(services.sql("SELECT count(*) FROM sources WHERE endpoint = :'e'", { e: endpoint })[0][0], "0");
  } finally {
    server.close();
  }
});

test("ports held by another program make the services script fail instead of reporting opcsim started", async () => {
  const squatters = [net.createServer(), net.createServer()];
  const ports = [];
  for (const server of squatters) {
    await new Promise((r) => server.listen(0, "127.0.0.1", r));
    ports.push(server.address().port);
  }
  const state = fs.mkdtempSync(path.join(os.tmpdir(), "varnok-squatted-"));
  try {
    const result = spawnSync(path.join(repo, "scripts", "services"), ["start", "opcsim"], {
      env: { ...process.env, VARNOK_STATE_DIR: state, VARNOK_OPCUA_PORT: String(ports[0]), VARNOK_GATEWAY_PORT: String(ports[1]) },
      encoding: "utf8",
      timeout: 60000,
    });
    assert.equal(result.status, 1, result.stdout + result.stderr);
    assert.match(result.stderr, /already in use/);
    assert.match(result.stderr, /opcsim exited during start-up/);
  } finally {
    squatters.forEach((server) => server.close());
    fs.rmSync(state, { recursive: true, force: true });
  }
});

test("after the drills nothing of this run is left but the services, and stopping them leaves nothing", () => {
  services.run("stop");
  assert.deepEqual(services.leftovers(), []);
});
