"use strict";
// The SISO program on the real opcsim, seen by a real OPC UA client the way
// a controller under test sees it. Needs the built tree (VARNOK_BUILD_DIR,
// default build/).

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { spawn } = require("node:child_process");

const repo = path.resolve(__dirname, "..", "..");
const opcsimDir = path.join(repo, "services", "opcsim");
const { startOpcsim, opcuaSession } = require(path.join(opcsimDir, "test", "helpers"));
const { AttributeIds, BrowseDirection, DataType, StatusCodes, VariantArrayType } = require(
  require.resolve("node-opcua-client", { paths: [opcsimDir] }),
);

const buildDir = path.resolve(repo, process.env.VARNOK_BUILD_DIR || "build");
const SPEED = 20;

let sim;
let model;
let modelOutput = "";
const sessions = [];

async function session() {
  const s = await opcuaSession(sim.endpoint);
  sessions.push(s);
  return s.session;
}

const node = (tag) => `ns=2;s=S1.${tag}`;

async function readTags(ua, tags) {
  const values = await ua.read(tags.map((tag) => ({ nodeId: node(tag), attributeId: AttributeIds.Value })));
  return Object.fromEntries(tags.map((tag, i) => [tag, values[i].value.value]));
}

async function write(ua, tag, value) {
  const status = await ua.write({
    nodeId: node(tag),
    attributeId: AttributeIds.Value,
    value: { value: { dataType: DataType.Double, arrayType: VariantArrayType.Scalar, value } },
  });
  assert.equal(status.value, StatusCodes.Good.value, `write ${tag}: ${status}`);
}

async function until(check, limitMs, what) {
  const deadline = Date.now() + limitMs;
  for (;;) {
    const result = await check();
    if (result) return result;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}; model said: ${modelOutput}`);
    await new Promise((r) => setTimeout(r, 20));
  }
}

before(async () => {
  sim = await startOpcsim();
  model = spawn(
    path.join(buildDir, "bin", "SISO"),
    ["--host", "127.0.0.1", "--port", String(sim.gatewayPort), "--group", "S1", "--speed", String(SPEED)],
    { stdio: ["ignore", "pipe", "pipe"] },
  );
  model.stdout.setEncoding("utf8").on("data", (d) => (modelOutput += d));
  model.stderr.setEncoding("utf8").on("data", (d) => (modelOutput += d));
});

after(async () => {
  for (const s of sessions) await s.close().catch(() => {});
  if (model && model.exitCode === null) {
    const exited = new Promise((r) => model.once("exit", r));
    model.kill("SIGTERM");
    await exited;
  }
  if (sim) sim.kill();
});

test("the group holds the 30 SISO tags in order and RunCount counts at the requested speed", async () => {
  const ua = await session();
  const references = await until(async () => {
    const result = await ua.browse({
      nodeId: "ns=2;s=S1",
      browseDirection: BrowseDirection.Forward,
      referenceTypeId: "HierarchicalReferences",
      includeSubtypes: true,
      resultMask: 0x3f,
    });
    return result.statusCode.value === StatusCodes.Good.value && result.references.length > 0 && result.references;
  }, 15000, "group S1");
  const names = references.map((r) => r.browseName.name);
  assert.equal(names.length, 30);
  assert.deepEqual(names.slice(0, 4), ["MV1", "CV1", "DV1", "MV1_HI"]);
  assert.equal(names[21], "RunCount");

  const first = (await readTags(ua, ["RunCount"])).RunCount;
  await new Promise((r) => setTimeout(r, 2000));
  const second = (await readTags(ua, ["RunCount"])).RunCount;
  const perSecond = (second - first) / 2;
  assert.ok(perSecond > SPEED * 0.6 && perSecond < SPEED * 1.2, `RunCount grew ${perSecond}/s`);
});

test("an MV1 write reaches CV1 after the 17 s dead time and follows the first-order response", async () => {
  const ua = await session();
  await until(async () => (await readTags(ua, ["RunCount"])).RunCount > 0, 15000, "first period");
  const before = await readTags(ua, ["RunCount", "CV1"]);
  assert.equal(before.CV1, 31);
  await write(ua, "MV1", 30);
  const written = (await readTags(ua, ["RunCount"])).RunCount;

  // A step seen first in period c gives CV1(k) = 31 + 3.8·(1 − e^(−(k − c − 16)/30))
  // from period c + 17 on; every sample must name the same whole c.
  const stepPeriod = ({ RunCount: k, CV1: y }) => k - 16 + 30 * Math.log(1 - (y - 31) / 3.8);
  const moved = await until(async () => {
    const now = await readTags(ua, ["RunCount", "CV1", "MV1"]);
    assert.equal(now.MV1, 30, "the model must not overwrite a written MV");
    return now.CV1 !== 31 && now;
  }, 10000, "CV1 to move");
  const c = Math.round(stepPeriod(moved));
  assert.ok(c >= before.RunCount + 1 && c <= written + 1, `step seen in period ${c}, written during ${written}`);
  assert.ok(moved.RunCount - c >= 17, `CV1 moved ${moved.RunCount - c} periods after the step`);
  for (let i = 0; i < 5; i++) {
    const now = await readTags(ua, ["RunCount", "CV1"]);
    assert.ok(Math.abs(stepPeriod(now) - c) < 1e-6, `CV1 ${now.CV1} at period ${now.RunCount} is off the response`);
    await new Promise((r) => setTimeout(r, 200));
  }
});

test("writes from many clients racing the cycle are never lost", async () => {
  const tags = ["BK1", "BK2", "BK3", "BK4", "BK5", "BK6", "BK7", "BK8", "CV1_HI", "CV1_LO"];
  const clients = await Promise.all(tags.map(() => session()));
  // Ten clients, one tag each, ten writes each: 100 writes while periods run.
  await Promise.all(
    tags.map(async (tag, i) => {
      for (let n = 0; n < 10; n++) await write(clients[i], tag, 1000 * (i + 1) + n);
    }),
  );
  const ua = clients[0];
  const start = (await readTags(ua, ["RunCount"])).RunCount;
  await until(async () => (await readTags(ua, ["RunCount"])).RunCount >= start + 5, 5000, "five more periods");
  const values = await readTags(ua, tags);
  tags.forEach((tag, i) => assert.equal(values[tag], 1000 * (i + 1) + 9, tag));
});
