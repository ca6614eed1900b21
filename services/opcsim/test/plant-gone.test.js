"use strict";
// A group whose plant is gone: its variables keep their last values marked
// BadNoCommunication and refuse writes until the plant registers again;
// subscribers see both changes.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const { AttributeIds, DataType, StatusCodes, VariantArrayType } = require("node-opcua-client");
const { sharedSimulation, until, tagsOf } = require("./helpers");

const shared = sharedSimulation();

const readAll = (nodeIds) => shared.ua.session.read(nodeIds.map((nodeId) => ({ nodeId, attributeId: AttributeIds.Value })));
const write = (nodeId, value) =>
  shared.ua.session.write({
    nodeId,
    attributeId: AttributeIds.Value,
    value: { value: { dataType: DataType.Double, arrayType: VariantArrayType.Scalar, value } },
  });
const NO_COMMUNICATION = StatusCodes.BadNoCommunication.name;

const ENDINGS = [
  { how: "its task released it", group: "GR", leaseMs: 0, end: (group, session) => shared.gw.release({ group, session }) },
  { how: "its lease ran out", group: "GL", leaseMs: 600, end: async () => {} },
];

for (const { how, group, leaseMs, end } of ENDINGS) {
  test(`a group whose plant is gone because ${how} is BadNoCommunication until the plant registers again`, async () => {
    const [a, b] = [`ns=2;s=${group}.a`, `ns=2;s=${group}.b`];
    const first = await shared.gw.register({ group, tags: tagsOf({ a: 1.5, b: -2 }), lease_ms: leaseMs });
    await shared.gw.publish({ group, session: first.session, tags: tagsOf({ a: 3.25 }) });
    const served = await readAll([a, b]);
    const subscription = await shared.ua.subscribe([a]);
    try {
      await until(async () => subscription.seen[a].some((dv) => dv.value.value === 3.25), 5000, "the first notification");

      await end(group, first.session);
      const gone = await until(async () => {
        const dvs = await readAll([a, b]);
        return dvs.every((dv) => dv.statusCode.name === NO_COMMUNICATION) && dvs;
      }, 5000, "BadNoCommunication");
      assert.deepEqual(gone.map((dv) => [dv.value.dataType, dv.value.value]), [[DataType.Double, 3.25], [DataType.Double, -2]]);
      const notified = await until(
        async () => subscription.seen[a].find((dv) => dv.statusCode.name === NO_COMMUNICATION),
        5000,
        "the subscriber to see BadNoCommunication",
      );
      assert.equal(notified.value.value, 3.25);

      assert.equal((await write(b, 7)).name, NO_COMMUNICATION);
      assert.equal((await readAll([b]))[0].value.value, -2);

      const again = await shared.gw.register({ group, tags: tagsOf({ a: 9, b: 8 }), lease_ms: leaseMs });
      const back = await readAll([a, b]);
      back.forEach((dv, i) => {
        assert.equal(dv.statusCode.name, "Good");
        assert.ok(dv.sourceTimestamp > served[i].sourceTimestamp, "a fresh source timestamp");
      });
      assert.deepEqual(back.map((dv) => dv.value.value), [9, 8]);
      await until(async () => subscription.seen[a].at(-1).statusCode.name === "Good", 5000, "the subscriber to see Good");
      assert.equal(subscription.seen[a].at(-1).value.value, 9);
      assert.equal((await write(b, 7)).name, "Good");
      await shared.gw.release({ group, session: again.session });
    } finally {
      await subscription.close();
    }
  });
}

test("a released group is bad as soon as Release returns", async () => {
  const { session } = await shared.gw.register({ group: "GN", tags: tagsOf({ a: 1 }) });
  await shared.gw.release({ group: "GN", session });
  assert.equal((await readAll(["ns=2;s=GN.a"]))[0].statusCode.name, NO_COMMUNICATION);
});
