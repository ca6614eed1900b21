"use strict";
// HistoryRead of raw values from a database of the file's own, filled here
// as the recorder fills it; one opcsim on it serves all cases.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { AttributeIds } = require("node-opcua-client");
const { startOpcsim, gatewayClient, opcuaSession, privateFile, tagsOf, dateOfUs, historyReadOnce, historyReadAll } = require("./helpers");
const { TestDatabase } = require("./database");

const T0 = Date.UTC(2026, 0, 1) * 1000; // µs
// Irregular steps, two rows on one time stamp, sub-millisecond parts.
const A_OFFSETS_US = [1, 2, 1000, 1000, 2500, 999999, 1000001];
const MANY = 2500;

const shared = {};
let db;

// One hook: the database, then opcsim on it with the group registered.
before(async () => {
  db = await TestDatabase.create();
  const rowsA = A_OFFSETS_US.map((o, i) => `(${T0 + o}, ${i * 1.5 - 2})`).join(", ");
  const at = (us) => `'epoch'::timestamptz + (${us})::int8 * interval '1 microsecond'`;
  db.sql(`
    INSERT INTO tags (tag_name) VALUES ('2:H.A'), ('2:H.B'), ('2:H.Many'), ('2:Other.A');
    INSERT INTO tsdata (tag_id, ts, value)
      SELECT tag_id, ${at("r.us")}, v FROM tags, (VALUES ${rowsA}) AS r(us, v) WHERE tag_name = '2:H.A';
    INSERT INTO tsdata (tag_id, ts, value)
      SELECT tag_id, ${at(`${T0} + i::int8 * 1000000`)}, i FROM tags, generate_series(1, ${MANY}) AS i
       WHERE tag_name = '2:H.Many';
    INSERT INTO tsdata (tag_id, ts, value) SELECT tag_id, ${at(T0 + 5)}, 99 FROM tags WHERE tag_name = '2:Other.A';
  `);
  shared.sim = await startOpcsim([], { dbPort: db.port });
  shared.gw = gatewayClient(`127.0.0.1:${shared.sim.gatewayPort}`);
  shared.ua = await opcuaSession(shared.sim.endpoint);
  await shared.gw.register({ group: "H", tags: tagsOf({ A: 0, B: 0, Many: 0 }), client: "history test" });
});

after(async () => {
  if (shared.ua) await shared.ua.close().catch(() => {});
  if (shared.gw) shared.gw.close();
  if (shared.sim) shared.sim.kill();
  db?.dispose();
});

// The tag's rows as the database orders them, oldest first.
function rowsOf(tag) {
  return db
    .sql(`SELECT (extract(epoch FROM d.ts) * 1000000)::int8, d.value FROM tsdata d JOIN tags t USING (tag_id)
           WHERE t.tag_name = '${tag}' ORDER BY d.ts, d.ctid`)
    .map(([us, value]) => ({ us: Number(us), value: Number(value) }));
}

const plain = (values) => values.map(({ us, value }) => ({ us, value }));

test("raw reads page through exactly the recorded rows, in either direction, to the microsecond", async () => {
  const rows = rowsOf("2:H.A");
  assert.equal(rows.length, A_OFFSETS_US.length);
  const first = rows[0].us;
  const last = rows[rows.length - 1].us;
  const cases = [
    { name: "forward, 1 per page", range: { start: dateOfUs(first), end: dateOfUs(last), n: 1 }, want: rows },
    { name: "forward, 3 per page", range: { start: dateOfUs(first), end: dateOfUs(last), n: 3 }, want: rows },
    { name: "forward, all", range: { start: dateOfUs(first - 5), end: dateOfUs(last + 5), n: 0 }, want: rows },
    { name: "reverse, 3 per page", range: { start: dateOfUs(last), end: dateOfUs(first), n: 3 }, want: [...rows].reverse() },
    // Bounds are inclusive and exact below the millisecond.
    { name: "inner range", range: { start: dateOfUs(T0 + 2), end: dateOfUs(T0 + 1000), n: 2 }, want: rows.slice(1, 4) },
    { name: "start and count", range: { start: dateOfUs(T0 + 2500), n: 1 }, want: rows.slice(4) },
    { name: "end and count", range: { end: dateOfUs(T0 + 1000), n: 2 }, want: rows.slice(0, 4).reverse() },
  ];
  for (const { name, range, want } of cases) {
    const got = await historyReadAll(shared.ua.session, "ns=2;s=H.A", range);
    assert.deepEqual(plain(got.values), want, name);
    assert.ok(got.values.every((v) => v.serverUs === v.us && v.status === "Good"), `${name}: time stamps and statuses`);
    assert.ok(got.statuses.every((s) => s === "Good"), `${name}: ${got.statuses}`);
    if (range.n > 0) {
      assert.ok(got.pages.every((size) => size <= range.n), `${name}: pages ${got.pages}`);
      assert.equal(got.pages.length, Math.ceil(want.length / range.n), `${name}: pages ${got.pages}`);
    }
  }
});

test("a read of everything comes in server-sized pages", async () => {
  const got = await historyReadAll(shared.ua.session, "ns=2;s=H.Many", { start: dateOfUs(0), end: dateOfUs(T0 + 1e12), n: 0 });
  assert.deepEqual(got.pages, [1000, 1000, MANY - 2000]);
  assert.deepEqual(plain(got.values), rowsOf("2:H.Many"));
});

test("reads with nothing to return or no range say so", async () => {
  const A = "ns=2;s=H.A";
  const cases = [
    { name: "no rows for the tag", nodeId: "ns=2;s=H.B", range: { start: dateOfUs(T0), end: dateOfUs(T0 + 1e9) }, want: "GoodNoData" },
    { name: "range without rows", nodeId: A, range: { start: dateOfUs(T0 + 3), end: dateOfUs(T0 + 999) }, want: "GoodNoData" },
    { name: "neither start nor end", nodeId: A, range: { n: 5 }, want: "BadHistoryOperationInvalid" },
    { name: "start alone", nodeId: A, range: { start: dateOfUs(T0) }, want: "BadHistoryOperationInvalid" },
  ];
  for (const { name, nodeId, range, want } of cases) {
    const got = await historyReadOnce(shared.ua.session, nodeId, range);
    assert.equal(got.status, want, name);
    assert.deepEqual(got.values, [], name);
    assert.equal(got.continuationPoint, null, name);
  }
});

test("continuation points can be released, belong to their node and are bounded per session", async () => {
  const session = shared.ua.session;
  const range = { start: dateOfUs(T0), end: dateOfUs(T0 + 1e12), n: 1 };
  const open = async () => (await historyReadOnce(session, "ns=2;s=H.Many", range)).continuationPoint;
  const next = (continuationPoint, { nodeId = "ns=2;s=H.Many", release = false } = {}) =>
    historyReadOnce(session, nodeId, { continuationPoint, release });

  const released = await open();
  assert.equal((await next(released, { release: true })).status, "Good");
  assert.equal((await next(released)).status, "BadContinuationPointInvalid");

  const elsewhere = await open();
  assert.equal((await next(elsewhere, { nodeId: "ns=2;s=H.A" })).status, "BadContinuationPointInvalid");

  const points = [];
  for (let i = 0; i < 12; i++) points.push(await open());
  const newest = await next(points[11]);
  assert.equal(newest.status, "Good");
  assert.deepEqual(plain(newest.values), rowsOf("2:H.Many").slice(1, 2));
  assert.equal((await next(points[0])).status, "BadContinuationPointInvalid");
});

test("tag variables say they are historizing", async () => {
  const historizing = await shared.ua.session.read({ nodeId: "ns=2;s=H.A", attributeId: AttributeIds.Historizing });
  assert.equal(historizing.value.value, true);
  for (const attributeId of [AttributeIds.AccessLevel, AttributeIds.UserAccessLevel]) {
    const level = await shared.ua.session.read({ nodeId: "ns=2;s=H.A", attributeId });
    assert.equal(level.value.value & 0x07, 0x07, `attribute ${attributeId}: read, write and history read`);
  }
});

test("with a users file anonymous sessions still read history, but only listed users write", async () => {
  const sim = await startOpcsim(["--users-file", privateFile("users", "trainer:pw\n")], { dbPort: db.port });
  const gw = gatewayClient(`127.0.0.1:${sim.gatewayPort}`);
  let ua;
  try {
    await gw.register({ group: "H", tags: tagsOf({ A: 0, B: 0, Many: 0 }), client: "history test" });
    ua = await opcuaSession(sim.endpoint);
    const got = await historyReadAll(ua.session, "ns=2;s=H.A", { start: dateOfUs(0), end: dateOfUs(T0 + 1e12) });
    assert.deepEqual(plain(got.values), rowsOf("2:H.A"));
    const level = await ua.session.read({ nodeId: "ns=2;s=H.A", attributeId: AttributeIds.UserAccessLevel });
    assert.equal(level.value.value & 0x07, 0x05, "read and history read, no write");
  } finally {
    if (ua) await ua.close().catch(() => {});
    gw.close();
    sim.kill();
  }
});

// Last: it stops the database.
test("without the database history reads fail, and work again once it is back", async () => {
  const range = { start: dateOfUs(T0), end: dateOfUs(T0 + 1e9), n: 2 };
  db.services("stop");
  try {
    assert.equal((await historyReadOnce(shared.ua.session, "ns=2;s=H.A", range)).status, "BadNoCommunication");
  } finally {
    db.services("start");
  }
  const got = await historyReadAll(shared.ua.session, "ns=2;s=H.A", range);
  assert.deepEqual(plain(got.values), rowsOf("2:H.A"));
});
