"use strict";
// What OPC UA clients see of the info a plant registers with its tags:
// Description, AnalogItemType, EngineeringUnits and EURange, replaced by the
// next registration.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const grpc = require("@grpc/grpc-js");
const { AttributeIds, DataType, StatusCodes, VariantArrayType } = require("node-opcua-client");
const { sharedSimulation, until, tagsOf, valuesOf } = require("./helpers");

const shared = sharedSimulation();

const ANALOG = "ns=0;i=2368";
const PLAIN = "ns=0;i=63";
const NOTHING = { description: "", type: PLAIN, unit: null, range: null };
const TAGS = { flow: 1, temp: 2, level: 3, odd: 4, mode: 5 };

// Info as registered, and as a client then sees it; unit: [text, unitId].
const analog = (unit, range, description = "") => ({ description, type: ANALOG, unit, range });
const OPEN = [-Infinity, Infinity];
const FIRST = [
  [
    "flow",
    { description: "Feed flow", unit: "kg/h", range: { low: 0, high: 100 } },
    analog(["kg/h", 0x453933], [0, 100], "Feed flow"), // E93
  ],
  ["temp", { unit: "°C" }, analog(["°C", 0x43454c], OPEN)], // CEL
  ["level", { range: { low: -Infinity, high: 5 } }, analog(null, [-Infinity, 5])],
  ["odd", { unit: "furlong/fortnight" }, analog(["furlong/fortnight", -1], OPEN)],
  ["mode", { description: "Mode:\r\n1 automatic\t\n" }, { ...NOTHING, description: "Mode: 1 automatic" }],
];
// The same tags again: info lost, changed and gained.
const SECOND = [
  ["flow", { range: { low: 0, high: 50 } }, analog(null, [0, 50])],
  ["temp", {}, NOTHING],
  ["mode", { unit: "%" }, analog(["%", 0x5031], OPEN)], // P1
];

const nodeIdOf = (group, tag) => `ns=2;s=${group}.${tag}`;
const infoOf = (table) => table.map(([name, info]) => ({ name, ...info }));

async function shownInfo(nodeId) {
  const { session } = shared.ua;
  const description = (await session.read({ nodeId, attributeId: AttributeIds.Description })).value.value.text || "";
  const { references } = await session.browse({ nodeId, resultMask: 0x3f });
  const type = references.find((r) => r.referenceTypeId.toString() === "ns=0;i=40").nodeId.toString();
  const shown = { description, type, unit: null, range: null };
  for (const r of references.filter((p) => p.referenceTypeId.toString() === "ns=0;i=46")) {
    const value = (await session.read({ nodeId: r.nodeId, attributeId: AttributeIds.Value })).value.value;
    if (r.browseName.toString() === "EngineeringUnits") {
      assert.equal(value.namespaceUri, "http://www.opcfoundation.org/UA/units/un/cefact");
      assert.equal(value.description.text, value.displayName.text);
      shown.unit = [value.displayName.text, value.unitId];
    } else if (r.browseName.toString() === "EURange") {
      shown.range = [value.low, value.high];
    } else {
      assert.fail(`unexpected property ${r.browseName}`);
    }
  }
  return shown;
}

async function assertShown(group, table) {
  const expected = Object.fromEntries(Object.keys(TAGS).map((tag) => [tag, NOTHING]));
  for (const [tag, , shown] of table) expected[tag] = shown;
  const actual = {};
  for (const tag of Object.keys(TAGS)) actual[tag] = await shownInfo(nodeIdOf(group, tag));
  assert.deepEqual(actual, expected);
}

test("info shows as Description and AnalogItem properties; the next registration replaces it", async () => {
  const first = await shared.gw.register({ group: "TI", tags: tagsOf(TAGS), info: infoOf(FIRST) });
  await assertShown("TI", FIRST);

  // An AnalogItem takes client writes like any tag; its properties take none.
  const write = (nodeId, dataType, value) => {
    const variant = { dataType, arrayType: VariantArrayType.Scalar, value };
    return shared.ua.session.write({ nodeId, attributeId: AttributeIds.Value, value: { value: variant } });
  };
  assert.equal((await write(nodeIdOf("TI", "flow"), DataType.Int32, 7)).name, "Good");
  assert.equal(valuesOf(await shared.gw.read({ group: "TI", session: first.session })).flow, 7);
  const flowRefs = await shared.ua.session.browse({ nodeId: nodeIdOf("TI", "flow"), resultMask: 0x3f });
  const euRange = flowRefs.references.find((r) => r.browseName.name === "EURange").nodeId;
  assert.equal((await write(euRange, DataType.Double, 1)).name, StatusCodes.BadNotWritable.name);
  await shared.gw.release({ group: "TI", session: first.session });

  const subscription = await shared.ua.subscribe([nodeIdOf("TI", "flow")]);
  const flowSeen = subscription.seen[nodeIdOf("TI", "flow")];
  try {
    await until(async () => flowSeen.length > 0, 5000, "the first notification");
    const tags = tagsOf({ ...TAGS, flow: 42 });
    const second = await shared.gw.register({ group: "TI", tags, info: infoOf(SECOND) });
    await assertShown("TI", SECOND);
    // Same node: the subscriber is told of the new semantics and sees the new value.
    await until(async () => flowSeen.at(-1).value.value === 42, 5000, "42");
    assert.ok(flowSeen.some((dv) => dv.statusCode.hasSemanticChangedBit));
    await shared.gw.release({ group: "TI", session: second.session });
  } finally {
    await subscription.close();
  }

  const third = await shared.gw.register({ group: "TI", tags: tagsOf(TAGS) });
  await assertShown("TI", []);
  await shared.gw.release({ group: "TI", session: third.session });
});

test("a register with bad info is refused and changes nothing", async () => {
  const first = await shared.gw.register({ group: "TB", tags: tagsOf(TAGS), info: infoOf(FIRST) });
  await shared.gw.release({ group: "TB", session: first.session });
  const BAD = [
    [{ name: "nope", unit: "m" }, /group "TB" has no tag "nope" \(named in info\)/],
    [[{ name: "flow" }, { name: "flow", unit: "m" }], /info for tag "flow" is listed twice/],
    [{ name: "flow", range: { low: 2, high: 1 } }, /range of tag "flow" has low 2 above high 1/],
    [{ name: "flow", range: { low: NaN, high: 1 } }, /range of tag "flow" is not a number/],
    [{ name: "flow", description: "x".repeat(1001) }, /description of tag "flow" is longer than 1000 characters/],
    [{ name: "flow", unit: "°".repeat(65) }, /unit of tag "flow" is longer than 64 characters/],
  ];
  for (const [info, pattern] of BAD) {
    // Good info for another tag first: a refusal must not leave it applied either.
    const good = { name: "temp", unit: "K" };
    const request = { group: "TB", tags: tagsOf({ ...TAGS, flow: 99 }), info: [good].concat(info) };
    await assert.rejects(shared.gw.register(request), (err) => {
      assert.equal(err.code, grpc.status.INVALID_ARGUMENT, err.details);
      assert.match(err.details, pattern);
      return true;
    });
  }
  await assertShown("TB", FIRST);
  const dv = await shared.ua.session.read({ nodeId: nodeIdOf("TB", "flow"), attributeId: AttributeIds.Value });
  assert.deepEqual([dv.value.value, dv.statusCode.name], [TAGS.flow, "BadNoCommunication"]);
});
