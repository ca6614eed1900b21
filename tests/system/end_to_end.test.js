"use strict";
// The whole system from the built tree, the way a user runs it: the services
// started by scripts/services (on ports of their own), every built-in plant
// program on its default group at high speed, one after another, checked
// with varnok-ua; the viewer's recorder on one group with its rows read back
// from PostgreSQL; then everything stopped and nothing left running.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { until, exitOf, stopProgram, tagsOf, Services } = require("./support");

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

let services;

before(async () => {
  services = await Services.start();
});

after(() => services?.dispose());

for (const plant of PLANTS) {
  test(`${plant.program} on ${plant.group}: every tag served, an ${plant.mv} step reaches its CVs after their dead times`, async () => {
    const child = services.startPlant(plant, SPEED);
    try {
      const expected = tagsOf(plant);
      const names = await until(async () => {
        const lines = (await services.ua("browse", "2", plant.group)).trim().split("\n");
        return lines.length === expected.length && lines.map((l) => l.split("\t")[1]);
      }, 20000, `group ${plant.group}`);
      assert.deepEqual(names, expected);
      await until(async () => (await services.read(plant.group, ["RunCount"])).RunCount >= 2, 10000, "two periods");

      const watched = ["RunCount", ...plant.paths.flatMap(([cv, ref]) => [cv, ref])];
      const start = await services.read(plant.group, [plant.mv, ...watched]);
      const diff = (values, cv, ref) => values[cv] - values[ref];
      await services.ua("write", `2:${plant.group}.${plant.mv}`, String(start[plant.mv] + 1));
      const written = (await services.read(plant.group, ["RunCount"])).RunCount;

      // The step is first read in a period c with start.RunCount < c <= written + 1;
      // each CV first moves in a period p with stillAt < p <= movedAt.
      const stillAt = Object.fromEntries(plant.paths.map(([cv]) => [cv, start.RunCount]));
      const movedAt = {};
      const longest = Math.max(...plant.paths.map(([, , dead]) => dead));
      await until(async () => {
        const now = await services.read(plant.group, watched);
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
      await stopProgram(child);
    }
  });
}

test("the viewer's recorder stores every tag of a running plant, written values included", async () => {
  const plant = PLANTS.find((p) => p.program === "Farrow");
  const child = services.startPlant(plant, SPEED);
  try {
    // The group still holds the values of the earlier run, BadNoCommunication
    // (no value to varnok-ua), until this plant registers it again.
    const stale = await services.read(plant.group, ["RunCount"]).then((values) => values.RunCount, () => undefined);
    await until(async () => (await services.read(plant.group, ["RunCount"])).RunCount !== stale, 20000, "the plant");
    await services.ua("write", `2:${plant.group}.BK1`, "123.5");
    const recorder = services.startRecorder(plant.group, ["--period", "200", "--seconds", "3"]);
    assert.deepEqual(await exitOf(recorder, 30000), { code: 0, signal: null }, recorder.output);
    const polls = Number(/(\d+) polls/.exec(recorder.output)?.[1]);
    assert.ok(polls >= 5, recorder.output);

    const rows = services.sql(
      `SELECT t.tag_name, count(*), max(d.value), min(d.value)
         FROM tsdata d JOIN tags t USING (tag_id) JOIN sources s USING (source_id)
        WHERE s.endpoint = :'endpoint' GROUP BY t.tag_name, t.tag_id ORDER BY t.tag_id`,
      { endpoint: services.endpoint },
    );
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
    await stopProgram(child);
  }
});

test("stopping the services leaves nothing of this run running", () => {
  services.run("stop");
  const status = services.run("status", undefined, { allowFailure: true });
  assert.match(status, /opcsim: stopped/);
  assert.match(status, /db: stopped/);
  assert.deepEqual(services.leftovers(), []);
});
