"use strict";
// A plant runs, varnok-record writes its tags into the services' database,
// and any OPC UA client reads them back through opcsim's HistoryRead, page
// by page, exactly as recorded. Without a database opcsim says it has no
// history and serves values as before.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { repo, until, stopProgram, Services } = require("./support");
const opcsimDir = path.join(repo, "services", "opcsim");
const { AttributeIds, DataType, VariantArrayType } = require(require.resolve("node-opcua-client", { paths: [opcsimDir] }));
const { startOpcsim, gatewayClient, opcuaSession, dateOfUs, historyReadOnce, historyReadAll } = require(
  path.join(opcsimDir, "test", "helpers"),
);

const SISO = { program: "SISO", object: "TrainingSISO", group: "S1" };
const PER_PAGE = 3;

let services;
before(async () => {
  services = await Services.start();
});
after(() => services?.dispose());

// The tag's rows as microseconds and values, in the order they were taken.
function recordedRows(nodeId) {
  return services
    .sql(
      `SELECT (extract(epoch FROM d.ts) * 1000000)::int8, d.value FROM tsdata d JOIN tags t USING (tag_id)
        WHERE t.tag_name = :'tag' ORDER BY d.ts, d.ctid`,
      { tag: nodeId },
    )
    .map(([us, value]) => ({ us: Number(us), value: Number(value) }));
}

test("a client reads the recorded RunCount and CV1 through HistoryRead, exactly as recorded", async () => {
  const plant = services.startPlant(SISO, 10);
  await until(async () => (await services.read(SISO.group, ["RunCount"])).RunCount >= 3, 20000, "the plant");
  const recorder = services.startRecorder(SISO.group, ["--period", "200"]);
  const runCount = `2:${SISO.group}.RunCount`;
  await until(async () => services.recorded(runCount).length >= 20, 30000, "the recorder");
  await stopProgram(recorder);

  const ua = await opcuaSession(services.endpoint);
  try {
    for (const tag of ["RunCount", "CV1"]) {
      const rows = recordedRows(`2:${SISO.group}.${tag}`);
      assert.ok(rows.length >= 20, `${tag}: ${rows.length} rows`);
      const range = { start: dateOfUs(rows[0].us), end: dateOfUs(rows[rows.length - 1].us), n: PER_PAGE };
      const got = await historyReadAll(ua.session, `ns=2;s=${SISO.group}.${tag}`, range);
      assert.deepEqual(
        got.values.map(({ us, value }) => ({ us, value })),
        rows,
        tag,
      );
      assert.ok(got.values.every((v) => v.serverUs === v.us), `${tag}: server time stamps`);
      assert.equal(got.pages.length, Math.ceil(rows.length / PER_PAGE), `${tag}: pages ${got.pages}`);
      assert.ok(got.statuses.every((s) => s === "Good"), `${tag}: ${got.statuses}`);
    }
  } finally {
    await ua.close().catch(() => {});
    await stopProgram(plant);
  }
});

test("without a database HistoryRead is not supported and values are read and written as before", async () => {
  const sim = await startOpcsim(["--no-history"]);
  const gw = gatewayClient(`127.0.0.1:${sim.gatewayPort}`);
  const ua = await opcuaSession(sim.endpoint);
  try {
    const { session } = await gw.register({ group: "N", tags: [{ name: "x", value: 1.25 }], client: "history test" });
    const nodeId = "ns=2;s=N.x";
    const history = await historyReadOnce(ua.session, nodeId, { start: dateOfUs(0), end: new Date(), n: 10 });
    assert.equal(history.status, "BadHistoryOperationUnsupported");
    const historizing = await ua.session.read({ nodeId, attributeId: AttributeIds.Historizing });
    assert.equal(historizing.value.value, false);
    const level = await ua.session.read({ nodeId, attributeId: AttributeIds.AccessLevel });
    assert.equal(level.value.value & 0x07, 0x03);

    const written = await ua.session.write({
      nodeId,
      attributeId: AttributeIds.Value,
      value: { value: { dataType: DataType.Double, arrayType: VariantArrayType.Scalar, value: 2.5 } },
    });
    assert.equal(written.name, "Good");
    assert.deepEqual((await gw.read({ group: "N", session })).tags.map((t) => t.value), [2.5]);
    assert.equal((await ua.session.read({ nodeId, attributeId: AttributeIds.Value })).value.value, 2.5);
  } finally {
    await ua.close().catch(() => {});
    gw.close();
    sim.kill();
  }
});
