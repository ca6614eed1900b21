"use strict";
// Recording drills: varnok-record polls a running plant every second while
// PostgreSQL is frozen (SIGSTOP, a host that drops packets) or stopped and
// started again. Polling must keep its period throughout, and afterwards
// the database must hold every poll the recorder made, each at the time it
// was read: the recorder's own count against the rows.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { execFileSync } = require("node:child_process");
const { until, sleep, freePort, startProgram, exitOf, stopProgram, Services } = require("./support");

const SPEED = 10;
const DB_LOST = "数据库连接失败，暂停记录";
const DB_BACK = "数据库已重新连接，恢复记录";

let services;

before(async () => {
  services = await Services.start();
});

after(() => services?.dispose());

const countOf = (text, line) => text.split("\n").filter((l) => l.includes(line)).length;

// A SISO plant on its own group, once it publishes.
async function startPlant(group) {
  const plant = services.startPlant({ program: "SISO", group }, SPEED);
  await until(async () => (await services.read(group, ["RunCount"])).RunCount >= 3, 20000, "the plant");
  return plant;
}

// Seconds since the epoch of every recorded RunCount of the group, oldest
// first; [] before the recorder's first connection created the tables.
function timesOf(group) {
  if (services.sql("SELECT to_regclass('tsdata') IS NULL")[0][0] === "t") return [];
  return services
    .sql(
      `SELECT extract(epoch FROM d.ts) FROM tsdata d JOIN tags t USING (tag_id) JOIN sources s USING (source_id)
        WHERE s.endpoint = :'endpoint' AND t.tag_name = :'tag' ORDER BY d.ts`,
      { endpoint: services.endpoint, tag: `2:${group}.RunCount` },
    )
    .map(([t]) => Number(t));
}

// The recorder's last line: polls made, recorded, left queued, dropped.
function countsOf(output) {
  const m = /(\d+) polls, (\d+) recorded, \d+ not recorded \((\d+) queued, (\d+) dropped\)/.exec(output);
  assert.ok(m, `no counts in the recorder's output: ${output}`);
  const [polls, recorded, queued, dropped] = m.slice(1).map(Number);
  return { polls, recorded, queued, dropped };
}

// The server's processes (postmaster and children) frozen, then thawed.
function freezeDatabase() {
  const pidFile = path.join(services.state, "pg", "data", "postmaster.pid");
  const postmaster = Number(fs.readFileSync(pidFile, "utf8").split("\n")[0]);
  const children = execFileSync("ps", ["-o", "pid=", "--ppid", String(postmaster)], { encoding: "utf8" })
    .split("\n")
    .map((l) => Number(l.trim()))
    .filter((pid) => pid > 0);
  const pids = [postmaster, ...children];
  for (const pid of pids) process.kill(pid, "SIGSTOP");
  return () => pids.forEach((pid) => process.kill(pid, "SIGCONT"));
}

// Runs `outage` (which takes the database away and brings it back) under a
// plant and a recorder polling every second, and checks what was recorded.
async function drill(t, group, outage, minPollsDuringOutage) {
  const plant = await startPlant(group);
  const recorder = services.startRecorder(group, ["--period", "1000"]);
  let from;
  let to;
  try {
    await until(async () => timesOf(group).length >= 3, 30000, "the recorder");
    from = Date.now() / 1000;
    await outage();
    to = Date.now() / 1000;
    await until(async () => timesOf(group).some((t) => t > to + 2), 60000, "the recorder to catch up");
    assert.ok(recorder.running(), recorder.output);
  } finally {
    await stopProgram(recorder, 15000);
    await stopProgram(plant);
  }

  const counts = countsOf(recorder.output);
  assert.deepEqual(
    { queued: counts.queued, dropped: counts.dropped, recorded: counts.recorded },
    { queued: 0, dropped: 0, recorded: counts.polls },
    recorder.output,
  );
  const times = timesOf(group);
  assert.equal(times.length, counts.recorded, "one row per poll the recorder counted");
  assert.equal(new Set(times).size, times.length, "every poll has its own time stamp");
  // The period held: no gap where a poll went missing or waited.
  let widest = 0;
  for (let i = 1; i < times.length; i++) {
    const gap = times[i] - times[i - 1];
    widest = Math.max(widest, gap);
    assert.ok(gap > 0.2 && gap < 2.5, `polls ${i - 1} and ${i} are ${gap.toFixed(3)} s apart`);
  }
  // Polls made while the database was away keep the time they were read.
  const during = times.filter((t) => t > from + 1 && t < to - 1).length;
  assert.ok(during >= minPollsDuringOutage, `${during} polls stamped during the outage`);
  t.diagnostic(`${counts.polls} polls, all recorded; ${during} during the outage; widest gap ${widest.toFixed(3)} s`);
  assert.equal(countOf(recorder.output, DB_LOST), 1, recorder.output);
  assert.equal(countOf(recorder.output, DB_BACK), 1, recorder.output);
}

test("PostgreSQL frozen for 60 s: the recorder polls on and afterwards every poll is stored at its time", async (t) => {
  await drill(
    t,
    "R1",
    async () => {
      const thaw = freezeDatabase();
      try {
        await sleep(60000);
      } finally {
        thaw();
      }
    },
    50,
  );
});

test("PostgreSQL stopped and started again: the recorder polls on and afterwards every poll is stored", async (t) => {
  await drill(
    t,
    "R2",
    async () => {
      services.run("stop", "db");
      await sleep(20000);
      services.run("start", "db");
    },
    12,
  );
});

test("a database that never answers: the recorder says where it records, and at the end that nothing was and why", async (t) => {
  const plant = await startPlant("R3");
  const dead = await freePort();
  const recorder = startProgram("varnok-record", [
    "--endpoint", services.endpoint, "--group", "R3", "--db-port", String(dead), "--period", "200", "--seconds", "3",
  ]);
  try {
    const { code } = await exitOf(recorder, 20000);
    assert.equal(code, 0, recorder.output);
  } finally {
    await stopProgram(plant);
  }
  const lines = recorder.output.trim().split("\n");
  const database = `localhost:${dead}/tsdb_simulation`;
  assert.equal(
    lines[0],
    `varnok-record: recording group R3 of ${services.endpoint} every 200 ms into the database ${database} for 3 s`,
  );
  const last = lines.at(-1);
  const counts = countsOf(last);
  assert.ok(counts.polls >= 5, last);
  assert.deepEqual(counts, { polls: counts.polls, recorded: 0, queued: counts.polls, dropped: 0 }, last);
  assert.ok(last.includes(`: the database ${database} was not available (`), last);
  assert.ok(last.includes(`port ${dead}`), `the database's own reason: ${last}`);
  t.diagnostic(last);
});

test("after the recording drills nothing of this run is left but the services, and stopping them leaves nothing", () => {
  services.run("stop");
  assert.deepEqual(services.leftovers(), []);
});
