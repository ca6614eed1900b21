"use strict";
// varnok-export against what varnok-record stored: a SISO plant recorded for
// about ten seconds, then the group written as CSV (one line per poll, or
// one per value with --long) and compared value for value with the rows
// PostgreSQL holds; then the inputs it must refuse, and a range without
// values.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { spawnSync } = require("node:child_process");
const { bin, until, exitOf, stopProgram, freePort, Services } = require("./support");

const GROUP = "X1";
let services;

before(async () => {
  services = await Services.start();
  const plant = services.startPlant({ program: "SISO", group: GROUP }, 10);
  try {
    await until(async () => (await services.read(GROUP, ["RunCount"])).RunCount >= 3, 20000, "the plant");
    const recorder = services.startRecorder(GROUP, ["--period", "500", "--seconds", "10"]);
    assert.deepEqual(await exitOf(recorder, 40000), { code: 0, signal: null }, recorder.output);
  } finally {
    await stopProgram(plant);
  }
});

after(() => services?.dispose());

// varnok-export's exit code, standard output and standard error.
function exportCsv(...args) {
  const run = spawnSync(bin("varnok-export"), ["--db-port", String(services.ports.db), ...args], {
    encoding: "utf8",
    timeout: 30000,
  });
  assert.equal(run.error, undefined, String(run.error));
  return { code: run.status, out: run.stdout, err: run.stderr };
}

const lines = (text) => text.trimEnd().split("\n");

// A time stamp as microseconds since the epoch, from the export's
// ...T21:45:03.120Z or ...T21:45:03.120456Z, or the database's epoch text.
function microsOfExport(text) {
  const m = /^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)\.(\d{3}|\d{6})Z$/.exec(text);
  assert.ok(m, `not an exported time: ${text}`);
  return BigInt(Date.parse(`${m[1]}Z`)) * 1000n + BigInt(m[2].padEnd(6, "0"));
}

// A value as both sides write it: shortest round-trip digits; PostgreSQL
// says NaN and Infinity where the export says nan and inf.
const number = (text) => (/^-?(nan|inf)/i.test(text) ? text.toLowerCase().replace("inity", "") : Number(text));

// The group's stored tags (short names, tag_id order) and values, oldest
// first and by tag_id within a poll.
function stored() {
  const prefix = `2:${GROUP}.`;
  const tags = services
    .sql("SELECT tag_name FROM tags WHERE starts_with(tag_name, :'prefix') ORDER BY tag_id", { prefix })
    .map(([name]) => name.slice(prefix.length));
  const rows = services
    .sql(
      `SELECT (extract(epoch FROM d.ts) * 1000000)::bigint, t.tag_name, d.value FROM tsdata d JOIN tags t USING (tag_id)
        WHERE starts_with(t.tag_name, :'prefix') ORDER BY d.ts, t.tag_id`,
      { prefix },
    )
    .map(([us, name, value]) => ({ us: BigInt(us), tag: name.slice(prefix.length), value: number(value) }));
  return { tags, rows };
}

// The stored rows as wide lines: time -> {tag: value}, in time order.
function polls(rows) {
  const byTime = new Map();
  for (const row of rows) {
    if (!byTime.has(row.us)) byTime.set(row.us, {});
    byTime.get(row.us)[row.tag] = row.value;
  }
  return [...byTime.entries()];
}

test("the wide form has one line per poll with every tag of the group, equal to the stored values", (t) => {
  const { tags, rows } = stored();
  assert.ok(tags.includes("RunCount") && tags.includes("MV1"), tags.join());
  const expected = polls(rows);
  assert.ok(expected.length >= 10, `only ${expected.length} polls recorded`);

  const { code, out, err } = exportCsv("--group", GROUP);
  assert.equal(code, 0, err);
  const [header, ...body] = lines(out);
  assert.deepEqual(header.split(","), ["time", ...tags]);
  assert.equal(body.length, expected.length, "one line per poll");
  t.diagnostic(`${body.length} polls of ${tags.length} tags; first: ${body[0].slice(0, 80)}`);
  body.forEach((line, i) => {
    const [time, ...cells] = line.split(",");
    const [us, values] = expected[i];
    assert.equal(microsOfExport(time), us, line);
    assert.deepEqual(cells.map((c) => (c === "" ? undefined : number(c))), tags.map((t) => values[t]), line);
  });
});

test("--tags picks columns in their order and --from/--to cut the range", () => {
  const { rows } = stored();
  const expected = polls(rows);
  // The middle polls: --from is included, --to is not.
  const from = expected[2][0];
  const to = expected[expected.length - 2][0];
  const iso = (us) => `${new Date(Number(us / 1000n)).toISOString().slice(0, -1)}${String(us % 1000n).padStart(3, "0")}Z`;
  const { code, out, err } = exportCsv("--group", GROUP, "--tags", "RunCount,MV1", "--from", iso(from), "--to", iso(to));
  assert.equal(code, 0, err);
  const [header, ...body] = lines(out);
  assert.equal(header, "time,RunCount,MV1");
  const inRange = expected.filter(([us]) => us >= from && us < to);
  assert.equal(body.length, inRange.length);
  body.forEach((line, i) => {
    const [us, values] = inRange[i];
    const [time, ...cells] = line.split(",");
    assert.equal(microsOfExport(time), us, line);
    assert.deepEqual(cells.map(number), [values.RunCount, values.MV1], line);
  });
});

test("the long form has one line per stored value, by time and then tag", () => {
  const { tags, rows } = stored();
  const { code, out, err } = exportCsv("--group", GROUP, "--long");
  assert.equal(code, 0, err);
  const [header, ...body] = lines(out);
  assert.equal(header, "time,tag,value");
  assert.equal(body.length, rows.length, "one line per value");
  body.forEach((line, i) => {
    const [time, tag, value] = line.split(",");
    assert.deepEqual({ us: microsOfExport(time), tag, value: number(value) }, rows[i], line);
  });
  assert.ok(tags.every((tag) => body.some((line) => line.split(",")[1] === tag)));
});

test("an empty range gives the header only", () => {
  for (const [args, header] of [
    [[], `time,RunCount`],
    [["--long"], "time,tag,value"],
  ]) {
    const { code, out, err } = exportCsv(
      "--group", GROUP, "--tags", "RunCount", "--from", "2001-01-01", "--to", "2001-01-02T00:00Z", ...args,
    );
    assert.equal(code, 0, err);
    assert.equal(out, `${header}\n`);
  }
});

test("a group or tag never recorded, a bad time and --from after --to exit 2 saying so", () => {
  const cases = [
    [["--group", "NOPE"], 'varnok-export: group "NOPE" has no recorded tags'],
    [["--group", GROUP, "--tags", "MV1,NOPE"], `varnok-export: tag "NOPE" was never recorded in group "${GROUP}"`],
    [["--group", GROUP, "--from", "yesterday"], 'varnok-export: --from: "yesterday" is not a time'],
    [["--group", GROUP, "--to", "2026-02-30"], 'varnok-export: --to: "2026-02-30" is not a time'],
    [["--group", GROUP, "--from", "-1min", "--to", "-2min"], /^varnok-export: --from \S+Z is after --to \S+Z$/],
  ];
  for (const [args, expected] of cases) {
    const { code, out, err } = exportCsv(...args);
    assert.equal(code, 2, `${args.join(" ")}: ${err}`);
    assert.equal(out, "", args.join(" "));
    const first = lines(err)[0];
    if (expected instanceof RegExp) assert.match(first, expected);
    else assert.ok(first.startsWith(expected), `${args.join(" ")}: ${err}`);
  }
});

test("a database that cannot be reached exits 1 with the reason", async () => {
  const port = await freePort();
  const run = spawnSync(bin("varnok-export"), ["--db-port", String(port), "--group", GROUP], {
    encoding: "utf8",
    timeout: 30000,
  });
  assert.equal(run.status, 1, run.stderr);
  assert.match(run.stderr, new RegExp(`^varnok-export: cannot reach the database localhost:${port}/tsdb_simulation: .+`));
  assert.equal(run.stdout, "");
});
