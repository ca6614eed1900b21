"use strict";
// One varnok-record for many plants: with --all it records every group on
// the server, picks up a plant started after it, says once that a stopped
// plant's group has no live value while the others go on, and stores each
// poll of every group as one batch, at one time stamp.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { until, stopProgram, tagsOf, Services } = require("./support");

const SPEED = 10;
const SISO = { program: "SISO", object: "TrainingSISO" };

let services;
before(async () => {
  services = await Services.start();
});
after(() => services?.dispose());

async function startPlant(group) {
  const plant = services.startPlant({ ...SISO, group }, SPEED);
  await until(async () => (await services.read(group, ["RunCount"])).RunCount >= 3, 20000, `the plant on ${group}`);
  return plant;
}

const lines = (output, line) => output.split("\n").filter((l) => l === line).length;

// Rows of this run's endpoint: per group, and distinct time stamps overall.
function stored() {
  const rows = services.sql(
    `SELECT split_part(t.tag_name, '.', 1), count(*) FROM tsdata d JOIN tags t USING (tag_id)
       JOIN sources s USING (source_id) WHERE s.endpoint = :'endpoint' GROUP BY 1`,
    { endpoint: services.endpoint },
  );
  const [[distinct]] = services.sql(
    `SELECT count(DISTINCT d.ts) FROM tsdata d JOIN tags t USING (tag_id) JOIN sources s USING (source_id)
      WHERE s.endpoint = :'endpoint'`,
    { endpoint: services.endpoint },
  );
  return { byGroup: Object.fromEntries(rows.map(([g, n]) => [g, Number(n)])), distinct: Number(distinct) };
}

test("varnok-record --all records every plant's group, one started later too, and a stopped one does not hold up the others", async (t) => {
  const tags = tagsOf(SISO).length;
  const plants = { M1: await startPlant("M1"), M2: await startPlant("M2") };
  const recorder = services.startRecording(["--all", "--rescan", "1", "--period", "500"]);
  try {
    await until(async () => services.recorded("2:M2.RunCount").length >= 3, 30000, "the recorder");
    plants.M3 = await startPlant("M3");
    await until(async () => services.recorded("2:M3.RunCount").length >= 3, 30000, "M3 picked up");

    await stopProgram(plants.M2);
    delete plants.M2;
    await until(async () => recorder.output.includes("group M2: no live value ("), 30000, "M2 said gone");
    const m1 = services.recorded("2:M1.RunCount").length;
    await until(async () => services.recorded("2:M1.RunCount").length >= m1 + 2, 30000, "M1 going on");
    const m2 = services.recorded("2:M2.RunCount").length;
    await until(async () => services.recorded("2:M1.RunCount").length >= m1 + 7, 30000, "M1 going on");
    assert.equal(services.recorded("2:M2.RunCount").length, m2, "nothing of M2 while it is gone");
    plants.M2 = await startPlant("M2");
    await until(async () => recorder.output.includes("group M2: live again"), 30000, "M2 said back");
    assert.ok(recorder.running(), recorder.output);
  } finally {
    await stopProgram(recorder, 15000);
    for (const plant of Object.values(plants)) await stopProgram(plant);
  }

  const out = recorder.output;
  const database = `localhost:${services.ports.db}/tsdb_simulation`;
  assert.equal(
    out.split("\n")[0],
    `varnok-record: recording all groups of ${services.endpoint} every 500 ms into the database ${database}, ` +
      "until Ctrl-C or SIGTERM; looking for new groups every 1 s",
  );
  for (const group of ["M1", "M2", "M3"]) assert.equal(lines(out, `group ${group} found: ${tags} nodes`), 1, out);
  assert.equal(out.split("\n").filter((l) => l.startsWith("group M2: no live value (")).length, 1, out);
  assert.equal(lines(out, "group M2: live again"), 1, out);
  const last = out.trim().split("\n").at(-1);
  const m = /^varnok-record: 3 groups, (\d+) nodes, (\d+) polls, (\d+) recorded, 0 not recorded \(0 queued, 0 dropped\)$/.exec(
    last,
  );
  assert.ok(m, last);
  const [nodes, polls, recorded] = m.slice(1).map(Number);
  assert.equal(nodes, 3 * tags);
  assert.equal(recorded, polls);

  const { byGroup, distinct } = stored();
  assert.equal(distinct, polls, "one time stamp per poll: every group's values in one batch");
  assert.equal(byGroup["2:M1"] / tags, polls, "M1 recorded at every poll");
  for (const group of ["2:M2", "2:M3"]) assert.ok(byGroup[group] > 0 && byGroup[group] < polls * tags, group);
  t.diagnostic(last);
});
