"use strict";
// scripts/services on another state folder and other ports: once started,
// status, start and stop need only VARNOK_STATE_DIR, because start records
// each service's address; and start keeps the previous opcsim.log.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const net = require("node:net");
const path = require("node:path");
const { spawnSync } = require("node:child_process");
const { repo, freePort, Services } = require("./support");

const ADDRESS_VARIABLES = ["VARNOK_HOST", "VARNOK_OPCUA_PORT", "VARNOK_GATEWAY_PORT", "VARNOK_DB_PORT"];

let services;

before(async () => {
  services = await Services.start();
});

after(() => services?.dispose());

// scripts/services with this run's state folder, no address variables, then `extra`.
function script(args, extra = {}) {
  const env = { ...process.env, VARNOK_STATE_DIR: services.state, ...extra };
  for (const name of ADDRESS_VARIABLES) if (!(name in extra)) delete env[name];
  const r = spawnSync(path.join(repo, "scripts", "services"), args, { env, encoding: "utf8", timeout: 120000 });
  return { code: r.status, out: r.stdout, err: r.stderr };
}

function refused(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: "127.0.0.1", port });
    socket.setTimeout(2000, () => {
      socket.destroy();
      resolve(false);
    });
    socket.once("connect", () => {
      socket.destroy();
      resolve(false);
    });
    socket.once("error", (e) => resolve(e.code === "ECONNREFUSED"));
  });
}

const records = () => [path.join(services.state, "opcsim.address"), path.join(services.state, "pg", "db.address")];

test("status and start without port variables report the recorded addresses", async () => {
  const { opcua, gateway, db } = services.ports;
  const status = script(["status"]);
  assert.equal(status.code, 0, status.out + status.err);
  assert.match(status.out, new RegExp(`opcsim: running \\(pid \\d+, OPC UA opc\\.tcp://localhost:${opcua}, gateway localhost:${gateway}\\)`));
  assert.match(status.out, new RegExp(`db: running \\(pid \\d+, 127\\.0\\.0\\.1:${db}, database tsdb_simulation\\)`));

  const other = String(await freePort());
  const cases = [
    { env: {}, code: 0, err: /^$/ },
    { env: { VARNOK_OPCUA_PORT: String(opcua), VARNOK_DB_PORT: String(db) }, code: 0, err: /^$/ },
    { env: { VARNOK_OPCUA_PORT: other }, code: 1, err: new RegExp(`opcsim is not where .*VARNOK_OPCUA_PORT=${other} \\(runs on ${opcua}\\)`) },
    { env: { VARNOK_HOST: "0.0.0.0" }, code: 1, err: /opcsim is not where .*VARNOK_HOST=0\.0\.0\.0 \(runs on localhost\)/ },
    { env: { VARNOK_DB_PORT: other }, code: 1, err: new RegExp(`db is not where .*VARNOK_DB_PORT=${other} \\(runs on ${db}\\)`) },
  ];
  for (const c of cases) {
    const start = script(["start"], c.env);
    const what = `start with ${JSON.stringify(c.env)}: ${start.out}${start.err}`;
    assert.equal(start.code, c.code, what);
    assert.match(start.out, new RegExp(`opcsim already running \\(pid \\d+, OPC UA localhost:${opcua}, gateway localhost:${gateway}\\)`), what);
    assert.match(start.out, new RegExp(`db already running \\(pid \\d+, 127\\.0\\.0\\.1:${db}\\)`), what);
    assert.match(start.err, c.err, what);
  }
});

test("a damaged record is an error naming the file, not a guess", () => {
  const [record] = records();
  const kept = fs.readFileSync(record, "utf8");
  try {
    for (const [text, reason] of [
      ["opcua_port=22x00\n", /opcua_port: invalid port '22x00'/],
      ["port 22200\n", /line 'port 22200' is not key=value/],
      ["colour=red\n", /unknown key 'colour'/],
    ]) {
      fs.writeFileSync(record, kept + text);
      const status = script(["status", "opcsim"]);
      assert.equal(status.code, 1, status.out);
      assert.ok(status.err.includes(record), status.err);
      assert.match(status.err, reason);
    }
  } finally {
    fs.writeFileSync(record, kept);
  }
});

test("stop without port variables stops both services and removes the records", async () => {
  const pids = [...script(["status"]).out.matchAll(/pid (\d+)/g)].map((m) => Number(m[1]));
  assert.equal(pids.length, 2);

  const stop = script(["stop"]);
  assert.equal(stop.code, 0, stop.out + stop.err);
  assert.match(stop.out, /opcsim stopped\n.*db stopped/s);
  for (const port of Object.values(services.ports)) assert.ok(await refused(port), `port ${port} still open`);
  for (const pid of pids) assert.ok(!fs.existsSync(`/proc/${pid}`), `pid ${pid} still there`);
  assert.deepEqual(services.leftovers(), []);
  for (const record of records()) assert.ok(!fs.existsSync(record), `${record} left behind`);

  const status = script(["status"]);
  assert.equal(status.code, 3);
  assert.equal(status.out, "opcsim: stopped\ndb: stopped\n");
});

test("start keeps the previous opcsim.log, one generation back", () => {
  const log = path.join(services.state, "opcsim.log");
  const previous = path.join(services.state, "opcsim.previous.log");
  const read = (file) => fs.readFileSync(file, "utf8");
  services.run("stop", "opcsim");
  fs.appendFileSync(log, "last words of run 0\n");
  for (const run of [1, 2]) {
    services.run("start", "opcsim");
    const what = `after start ${run}`;
    // The run before this one, and nothing older.
    const kept = read(previous);
    assert.match(kept, /^opcsim: OPC UA on /m, what);
    assert.deepEqual(kept.match(/last words of run \d+/g), [`last words of run ${run - 1}`], what);
    assert.doesNotMatch(read(log), /last words/, what);
    fs.appendFileSync(log, `last words of run ${run}\n`);
    services.run("stop", "opcsim");
  }
});
