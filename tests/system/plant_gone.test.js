"use strict";
// A plant program that dies or stops, seen by OPC UA clients the way a
// controller under test sees it: every tag of its group turns
// BadNoCommunication (within the lease when the plant is killed, at once when
// it stops cleanly) and Good again when the plant comes back.

const { test, before } = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { execFile } = require("node:child_process");
const { promisify } = require("node:util");
const { repo, bin, until, startProgram, exitOf, stopProgram, tagsOf, opcsimWithClient } = require("./support");

const opcsimDir = path.join(repo, "services", "opcsim");
const { AttributeIds, StatusCodes } = require(require.resolve("node-opcua-client", { paths: [opcsimDir] }));

const SPEED = 10;
// SISO's period is 1 s of plant time: at --speed 10 five periods are 0.5 s,
// so the task's lease is its floor of 5 s.
const LEASE_MS = 5000;
const MARGIN_MS = 10000;
const SISO = { program: "SISO", object: "TrainingSISO" };
const NO_COMMUNICATION = StatusCodes.BadNoCommunication.name;

const live = opcsimWithClient();
let tags;
before(() => {
  tags = tagsOf(SISO);
});

const startSiso = (group) =>
  startProgram(SISO.program, ["--host", "127.0.0.1", "--port", String(live.sim.gatewayPort), "--group", group, "--speed", String(SPEED)]);

// tag -> DataValue, every tag of the group in one request.
async function readGroup(group) {
  const dvs = await live.ua.session.read(tags.map((tag) => ({ nodeId: `ns=2;s=${group}.${tag}`, attributeId: AttributeIds.Value })));
  return Object.fromEntries(tags.map((tag, i) => [tag, dvs[i]]));
}

function assertAll(values, status) {
  for (const tag of tags) assert.equal(values[tag].statusCode.name, status, `${tag}: ${values[tag].statusCode}`);
}

// The group's RunCount once it is Good and at least `count`.
const runCountReaches = (group, count) =>
  until(async () => {
    const dv = (await readGroup(group)).RunCount;
    return dv.statusCode.name === "Good" && dv.value.value >= count && dv.value.value;
  }, 20000, `RunCount of ${group} to reach ${count}`);

test("SIGKILL: the group turns BadNoCommunication within the plant's lease, and Good again when it restarts", async (t) => {
  const group = "K1";
  const runCount = `ns=2;s=${group}.RunCount`;
  let plant = startSiso(group);
  await runCountReaches(group, 3);
  const subscription = await live.ua.subscribe([runCount]);
  try {
    plant.kill("SIGKILL");
    await exitOf(plant);
    const killedAt = Date.now();
    const notified = await until(
      async () => subscription.seen[runCount].find((dv) => dv.statusCode.name === NO_COMMUNICATION),
      LEASE_MS + MARGIN_MS,
      "the subscriber to see BadNoCommunication",
    );
    t.diagnostic(`BadNoCommunication seen ${Date.now() - killedAt} ms after the plant was killed`);
    const lastGood = subscription.seen[runCount].findLast((dv) => dv.statusCode.name === "Good");
    assert.equal(notified.value.value, lastGood.value.value, "the last RunCount is kept");
    assertAll(await readGroup(group), NO_COMMUNICATION);
    // The project's own client shows the kept value with its status, and fails.
    await assert.rejects(
      promisify(execFile)(bin("varnok-ua"), [live.sim.endpoint, "read", `2:${group}.RunCount`], { timeout: 20000 }),
      (err) =>
        err.code === 1 &&
        err.stdout === `ns=2;s=${group}.RunCount\t${lastGood.value.value.toFixed(1)}\tBadNoCommunication (0x80310000)\n`,
    );

    plant = startSiso(group);
    const first = await runCountReaches(group, 1);
    await runCountReaches(group, first + 3);
    assertAll(await readGroup(group), "Good");
    await until(async () => subscription.seen[runCount].at(-1).statusCode.name === "Good", 5000, "the subscriber to see Good");
  } finally {
    await subscription.close();
  }
  await stopProgram(plant);
});

test("SIGTERM: the plant releases its group, which is BadNoCommunication as soon as the plant has exited", async () => {
  const group = "T1";
  const plant = startSiso(group);
  await runCountReaches(group, 3);
  await stopProgram(plant);
  const gone = await readGroup(group);
  assertAll(gone, NO_COMMUNICATION);
  assert.ok(gone.RunCount.value.value >= 3, "the last RunCount is kept");
});
