"use strict";
// varnok-experiment live against the SISO program on the real opcsim: a step
// lands in its period (CV1 first moves exactly the dead time later), a plant
// faster than the client is either kept up with or its misses are said,
// refusals exit 2, and SIGTERM keeps what was recorded. Needs the built tree
// (VARNOK_BUILD_DIR, default build/).

const { test } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");

const { until, startProgram, stopProgram, exitOf, opcsimWithClient } = require("./support");

const live = opcsimWithClient();
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "varnok-experiment-"));
process.once("exit", () => fs.rmSync(dir, { recursive: true, force: true }));

const DEAD_TIME = 17; // SISO's MV1 -> CV1, docs/plants.md

function file(name, text) {
  const at = path.join(dir, name);
  fs.writeFileSync(at, text);
  return at;
}

// SISO serving `group` at `speed`, once registered.
async function siso(group, speed) {
  const child = startProgram("SISO", ["--port", String(live.sim.gatewayPort), "--group", group, "--speed", String(speed)]);
  await until(async () => child.output.includes(`Group ${group} registered`), 20000, `SISO on ${group}`);
  return child;
}

function experiment(args) {
  return startProgram("varnok-experiment", [...args, "--endpoint", live.sim.endpoint, "--no-db"]);
}

// period -> {tag: number}, and the header's tags.
function readCsv(csvPath) {
  const [header, ...lines] = fs.readFileSync(csvPath, "utf8").trim().split("\n");
  const tags = header.split(",").slice(1);
  const rows = new Map();
  for (const line of lines) {
    const [period, ...values] = line.split(",");
    rows.set(Number(period), Object.fromEntries(tags.map((tag, i) => [tag, Number(values[i])])));
  }
  return { tags, rows };
}

// The first period whose CV1 differs from the period before.
function firstMove(rows) {
  for (const [period, row] of rows) {
    if (rows.has(period - 1) && row.CV1 !== rows.get(period - 1).CV1) return period;
  }
  return null;
}

const stepFile = (periods, at, extra = "") =>
  file(
    `step_${periods}_${at}.yaml`,
    `description: MV1 step on SISO
periods: ${periods}
record: [MV1, CV1, RunCount]
actions:
  - {at: 1, set: {SET_CV1_STD: 0, SET_DV1_RANDOM: 0}}
  - {at: ${at}, step: {MV1: 5}}
${extra}`,
  );

test("at speed 10 the step is in its period: CV1 first moves exactly the dead time later", async () => {
  const plant = await siso("EX1", 10);
  try {
    const csv = path.join(dir, "ex1.csv");
    const png = path.join(dir, "ex1.png");
    const run = experiment([stepFile(40, 10), "--group", "EX1", "--out", csv, "--plot", png]);
    const { code } = await exitOf(run, 60000);
    assert.equal(code, 0, run.output);
    assert.match(run.output, /varnok-experiment: 40 periods recorded, 3 writes, all in their periods\n/);

    const { tags, rows } = readCsv(csv);
    assert.deepEqual(tags, ["MV1", "CV1", "RunCount"]);
    assert.deepEqual([...rows.keys()], Array.from({ length: 40 }, (_, i) => i + 1));
    for (const [period, row] of rows) {
      assert.equal(row.MV1, period < 10 ? 29 : 34, `MV1 in period ${period}`);
      assert.equal(row.RunCount, rows.get(1).RunCount + period - 1);
    }
    assert.equal(firstMove(rows), 10 + DEAD_TIME, `CV1: ${[...rows].map(([p, r]) => `${p}:${r.CV1}`)}`);
    assert.deepEqual([...fs.readFileSync(png).subarray(0, 4)], [0x89, 0x50, 0x4e, 0x47]);
  } finally {
    await stopProgram(plant);
  }
});

test("at speed 200 every write is in its period, or the misses are said and counted", async () => {
  const plant = await siso("EX2", 200);
  try {
    const csv = path.join(dir, "ex2.csv");
    const run = experiment([
      stepFile(300, 100, "  - {at: 150, ramp: {tag: SP1, to: 40, periods: 100}}\n"),
      "--group",
      "EX2",
      "--out",
      csv,
    ]);
    const { code } = await exitOf(run, 60000);
    const { rows } = readCsv(csv);
    const late = (run.output.match(/ was late by \d+ periods?\n/g) || []).length;
    const summary = run.output.match(/varnok-experiment: (\d+) periods? recorded, 103 writes, (.*)\n/);
    assert.ok(summary, run.output);
    assert.equal(Number(summary[1]), rows.size);
    if (code === 0) {
      assert.equal(summary[2], "all in their periods");
      assert.equal(late, 0);
      assert.equal(rows.size, 300);
      assert.equal(firstMove(rows), 100 + DEAD_TIME);
    } else {
      assert.equal(code, 1, run.output);
      const missed = 300 - rows.size;
      const counted = (n, what) => `${n} ${what}${n === 1 ? "" : "s"}`;
      assert.equal(summary[2], `${counted(late, "write")} late, ${counted(missed, "period")} not recorded`);
      assert.ok(late > 0 || rows.size < 300);
    }
  } finally {
    await stopProgram(plant);
  }
});

test("a group or tag the server does not have, a bad file or a bad command line exits 2 and writes no CSV", async () => {
  const plant = await siso("EX3", 10);
  try {
    const unknownTag = file("unknown_tag.yaml", "periods: 5\nrecord: [MV1, XX]\n");
    const badFile = file("bad.yaml", "periods: 0\nrecord: [MV1]\n");
    const good = stepFile(5, 2);
    const cases = [
      [[good, "--group", "NOPE"], /varnok-experiment: group "NOPE" does not exist on /],
      [[unknownTag, "--group", "EX3"], `varnok-experiment: ${unknownTag}:2:15: tag "XX" is not a tag of group "EX3"\n`],
      [[badFile, "--group", "EX3"], `varnok-experiment: ${badFile}:1:10: `],
      [[good], /--group is required/],
    ];
    for (const [args, said] of cases) {
      const csv = path.join(dir, "refused.csv");
      const run = experiment([...args, "--out", csv]);
      const { code } = await exitOf(run, 30000);
      assert.equal(code, 2, run.output);
      if (typeof said === "string") assert.ok(run.output.includes(said), run.output);
      else assert.match(run.output, said);
      assert.equal(fs.existsSync(csv), false, `${args}: ${run.output}`);
    }
  } finally {
    await stopProgram(plant);
  }
});

test("SIGTERM stops the run at once, restoring nothing, with every row so far in the CSV", async () => {
  const plant = await siso("EX4", 10);
  try {
    const csv = path.join(dir, "ex4.csv");
    const run = experiment([stepFile(100000, 3), "--group", "EX4", "--out", csv]);
    await until(async () => fs.existsSync(csv) && readCsv(csv).rows.size >= 5, 30000, "five rows");
    run.kill("SIGTERM");
    const { code, signal } = await exitOf(run, 10000);
    assert.equal(signal, null);
    assert.equal(code, 1, run.output);
    const { rows } = readCsv(csv);
    assert.match(run.output, /stopped; nothing restored\n/);
    const stopped = `${rows.size} periods recorded, 3 writes, all in their periods, stopped after period ${rows.size}`;
    assert.ok(run.output.includes(`varnok-experiment: ${stopped} of 100000\n`), run.output);
  } finally {
    await stopProgram(plant);
  }
});
