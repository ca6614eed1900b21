"use strict";
// One opcsim child serves all cases here; each case uses its own group.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const net = require("node:net");
const grpc = require("@grpc/grpc-js");
const { AttributeIds, BrowseDirection, DataType, StatusCodes, VariantArrayType } = require("node-opcua-client");
const { sharedSimulation, gatewayClient, until, tagsOf, valuesOf } = require("./helpers");

const shared = sharedSimulation(["--lease-ms", "2000"]);

async function register(group, pairs, extra = {}) {
  return shared.gw.register({ group, tags: tagsOf(pairs), client: `test pid ${process.pid}`, ...extra });
}

async function rejects(promise, code, pattern) {
  await assert.rejects(promise, (err) => {
    assert.equal(err.code, code, `expected ${grpc.status[code]}, got ${grpc.status[err.code]}: ${err.details}`);
    if (pattern) assert.match(err.details, pattern);
    return true;
  });
}

async function uaWrite(nodeId, dataType, value) {
  const variant = { dataType, arrayType: VariantArrayType.Scalar, value };
  return shared.ua.session.write({ nodeId, attributeId: AttributeIds.Value, value: { value: variant } });
}

async function uaValue(nodeId) {
  const dv = await shared.ua.session.read({ nodeId, attributeId: AttributeIds.Value });
  return dv.value.value;
}

async function browse(nodeId) {
  const result = await shared.ua.session.browse({
    nodeId,
    browseDirection: BrowseDirection.Forward,
    referenceTypeId: "HierarchicalReferences",
    includeSubtypes: true,
    resultMask: 0x3f,
  });
  assert.equal(result.statusCode.value, StatusCodes.Good.value, `browse ${nodeId}: ${result.statusCode}`);
  return result.references;
}

test("a registered group appears as a folder of Double variables in tag order", async () => {
  const tags = { FT101: 1.5, TT102: -20.25, "LIC103.PV": 0, A: 1e300 };
  const reply = await register("S1", tags);
  assert.match(reply.session, /^[0-9a-f]{32}$/);
  assert.equal(reply.lease_ms, 2000);
  // The log line and the reply travel different ways; give the log a moment.
  await shared.sim.waitFor(new RegExp(`group "S1" registered by test pid ${process.pid} \\(4 tags\\)`), 2000);

  const ns = await uaValue("ns=0;i=2255"); // Server.NamespaceArray
  assert.equal(ns[2], "urn:varnok:opcsim");

  const objects = await browse("ns=0;i=85");
  const folder = objects.find((r) => r.nodeId.toString() === "ns=2;s=S1");
  assert.ok(folder, "folder ns=2;s=S1 under Objects");
  assert.equal(folder.browseName.name, "S1");
  assert.equal(folder.displayName.text, "S1");

  const children = await browse("ns=2;s=S1");
  assert.deepEqual(
    children.map((r) => [r.nodeId.toString(), r.browseName.toString(), r.displayName.text]),
    Object.keys(tags).map((t) => [`ns=2;s=S1.${t}`, `2:${t}`, t]),
  );

  const attrs = [];
  for (const t of Object.keys(tags)) {
    for (const a of [AttributeIds.DataType, AttributeIds.AccessLevel, AttributeIds.UserAccessLevel, AttributeIds.Value]) {
      attrs.push({ nodeId: `ns=2;s=S1.${t}`, attributeId: a });
    }
  }
  const dvs = await shared.ua.session.read(attrs);
  Object.values(tags).forEach((value, i) => {
    const [dataType, access, userAccess, v] = dvs.slice(4 * i, 4 * i + 4).map((dv) => dv.value.value);
    assert.equal(dataType.toString(), "ns=0;i=11"); // Double
    assert.equal(access, 3); // CurrentRead | CurrentWrite
    assert.equal(userAccess, 3);
    assert.equal(v, value);
    assert.equal(dvs[4 * i + 3].value.dataType, DataType.Double);
  });
  await shared.gw.release({ group: "S1", session: reply.session });
  await shared.sim.waitFor(/group "S1" released \(stopped\)/, 2000);
});

test("client writes are seen by Read; numbers that fit a Double are accepted, others refused", async () => {
  const { session } = await register("W1", { a: 0, b: 0, c: 0, d: 0, e: 0 });
  const read = async () => valuesOf(await shared.gw.read({ group: "W1", session }));

  assert.equal((await uaWrite("ns=2;s=W1.a", DataType.Double, 42.125)).value, StatusCodes.Good.value);
  assert.equal((await uaWrite("ns=2;s=W1.b", DataType.Int32, -7)).value, StatusCodes.Good.value);
  assert.equal((await uaWrite("ns=2;s=W1.c", DataType.Float, 1.5)).value, StatusCodes.Good.value);
  assert.equal((await uaWrite("ns=2;s=W1.d", DataType.UInt64, [0, 123456])).value, StatusCodes.Good.value);
  assert.deepEqual(await read(), { a: 42.125, b: -7, c: 1.5, d: 123456, e: 0 });
  assert.equal((await shared.ua.session.read({ nodeId: "ns=2;s=W1.b", attributeId: AttributeIds.Value })).value.dataType, DataType.Double);

  for (const [dataType, value] of [
    [DataType.Boolean, true],
    [DataType.String, "12"],
    [DataType.Int64, [0x200000, 1]], // 2^53 + 1: no exact Double
  ]) {
    const status = await uaWrite("ns=2;s=W1.e", dataType, value);
    assert.equal(status.value, StatusCodes.BadTypeMismatch.value, `${DataType[dataType]} gave ${status}`);
  }
  assert.equal((await read()).e, 0);
  await shared.gw.release({ group: "W1", session });
});

test("Publish changes only the tags it names: concurrent client writes are never lost", async () => {
  const pairs = {};
  for (let i = 0; i < 100; i++) pairs[`w${i}`] = 0;
  for (let i = 0; i < 20; i++) pairs[`p${i}`] = 0;
  const { session } = await register("RACE", pairs);
  const published = Array.from({ length: 20 }, (_, i) => `p${i}`);

  // A model loop like a real task's: read everything, publish its own tags.
  let stop = false;
  let cycles = 0;
  const loop = (async () => {
    while (!stop) {
      const values = valuesOf(await shared.gw.read({ group: "RACE", session }));
      cycles++;
      await shared.gw.publish({ group: "RACE", session, tags: published.map((name) => ({ name, value: values[name] + 1 })) });
    }
  })();
  const writes = Array.from({ length: 100 }, (_, i) => uaWrite(`ns=2;s=RACE.w${i}`, DataType.Double, 1000 + i));
  const statuses = await Promise.all(writes);
  // Cycles, not time: a loaded machine may run few of them during the writes.
  const atWrites = cycles;
  await until(async () => cycles >= atWrites + 2, 10000, "two model cycles after the writes");
  stop = true;
  await loop;

  assert.ok(statuses.every((s) => s.value === StatusCodes.Good.value));
  const final = valuesOf(await shared.gw.read({ group: "RACE", session }));
  for (let i = 0; i < 100; i++) assert.equal(final[`w${i}`], 1000 + i, `w${i}`);
  for (const name of published) assert.equal(final[name], cycles, name);
  await shared.gw.release({ group: "RACE", session });
});

test("a served group is refused to a second task until released; its nodes refuse writes meanwhile", async () => {
  const first = await register("S2", { a: 1, b: 2 }, { client: "SISO pid 123" });
  await rejects(register("S2", { a: 5 }, { client: "other" }), grpc.status.ALREADY_EXISTS,
    /group "S2" is served by another task \(client "SISO pid 123"\), try again when it stops/);
  await shared.gw.release({ group: "S2", session: first.session });
  await rejects(shared.gw.read({ group: "S2", session: first.session }), grpc.status.NOT_FOUND, /register again/);

  // No plant would read a value written now.
  assert.equal((await uaWrite("ns=2;s=S2.a", DataType.Double, 11)).value, StatusCodes.BadNoCommunication.value);

  const second = await register("S2", { b: 20, c: 30 });
  assert.deepEqual(valuesOf(await shared.gw.read({ group: "S2", session: second.session })), { b: 20, c: 30 });
  await shared.gw.release({ group: "S2", session: second.session });
});

test("a lease runs out unless calls renew it", async () => {
  // Outlives two leases only through the reads.
  const kept = await register("L1", { x: 1 }, { lease_ms: 600 });
  for (let i = 0; i < 13; i++) {
    await new Promise((r) => setTimeout(r, 100));
    await shared.gw.read({ group: "L1", session: kept.session });
  }
  const lapsed = await register("L2", { x: 1 }, { lease_ms: 200 });
  // Released by the timer, without any further call.
  await shared.sim.waitFor(/group "L2" released \(lease expired\)/, 2000);
  await rejects(shared.gw.publish({ group: "L2", session: lapsed.session, tags: [] }), grpc.status.NOT_FOUND, /register again/);
  const again = await register("L2", { x: 2 });
  await shared.gw.release({ group: "L2", session: again.session });
  await shared.gw.release({ group: "L1", session: kept.session });
});

test("unknown sessions, foreign sessions and malformed requests get clear errors", async () => {
  const { session } = await register("E1", { a: 1, b: 2 });
  const other = await register("E2", { a: 1 });

  await rejects(shared.gw.read({ group: "E1", session: "nope" }), grpc.status.NOT_FOUND, /register again/);
  await rejects(shared.gw.read({ group: "E1", session: other.session }), grpc.status.NOT_FOUND, /does not serve group "E1"/);
  await rejects(shared.gw.release({ group: "E9", session }), grpc.status.NOT_FOUND);

  const bad = [
    [{ group: "", tags: tagsOf({ a: 1 }) }, /group name is empty/],
    [{ group: "X.Y", tags: tagsOf({ a: 1 }) }, /contains "\."/],
    [{ group: "X Y", tags: tagsOf({ a: 1 }) }, /whitespace/],
    [{ group: "X", tags: [] }, /no tags/],
    [{ group: "X", tags: [{ name: "", value: 1 }] }, /empty tag name/],
    [{ group: "X", tags: tagsOf({ a: 1 }).concat(tagsOf({ a: 2 })) }, /"a" is listed twice/],
    [{ group: "X", tags: tagsOf({ a: 1 }), lease_ms: 5 }, /lease_ms 5 is out of range/],
  ];
  for (const [request, pattern] of bad) {
    await rejects(shared.gw.register(request), grpc.status.INVALID_ARGUMENT, pattern);
  }

  // A publish naming a foreign tag sets nothing at all.
  await rejects(shared.gw.publish({ group: "E1", session, tags: tagsOf({ a: 10, zz: 1 }) }), grpc.status.INVALID_ARGUMENT, /no tag "zz"/);
  await rejects(shared.gw.publish({ group: "E1", session, tags: tagsOf({ b: 10 }).concat(tagsOf({ b: 11 })) }), grpc.status.INVALID_ARGUMENT, /twice/);
  assert.deepEqual(valuesOf(await shared.gw.read({ group: "E1", session })), { a: 1, b: 2 });
  await shared.gw.release({ group: "E1", session });
  await shared.gw.release({ group: "E2", session: other.session });
});

// Sends an OPC UA Hello to host:port and resolves with the reply's type.
function opcuaHello(host, port) {
  const url = Buffer.from(`opc.tcp://localhost:${port}`);
  const head = Buffer.alloc(32);
  head.write("HELF", 0, "ascii");
  head.writeUInt32LE(32 + url.length, 4);
  [0, 65536, 65536, 0, 0].forEach((v, i) => head.writeUInt32LE(v, 8 + 4 * i)); // version, buffers, limits
  head.writeInt32LE(url.length, 28);
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host, port, timeout: 3000 }, () => socket.write(Buffer.concat([head, url])));
    socket.once("data", (d) => {
      socket.destroy();
      resolve(d.subarray(0, 4).toString("ascii"));
    });
    socket.once("timeout", () => socket.destroy(new Error("no reply to Hello")));
    socket.once("error", reject);
  });
}

test("with the default host both ports also answer on ::1", async (t) => {
  const ipv6 = await new Promise((resolve) => {
    const s = net.createServer();
    s.once("error", () => resolve(false));
    s.listen({ host: "::1", port: 0 }, () => s.close(() => resolve(true)));
  });
  if (!ipv6) return t.skip("no IPv6 loopback");
  assert.equal(await opcuaHello("::1", shared.sim.opcuaPort), "ACKF");
  const gw6 = gatewayClient(`[::1]:${shared.sim.gatewayPort}`);
  try {
    const { session } = await gw6.register({ group: "V6", tags: tagsOf({ a: 3 }) });
    assert.equal(await uaValue("ns=2;s=V6.a"), 3);
    await gw6.release({ group: "V6", session });
  } finally {
    gw6.close();
  }
});

test("registering another tag set on a group replaces its variables, the same set keeps them", async () => {
  const first = await register("R1", { A: 1, B: 2, C: 3 });
  await shared.gw.release({ group: "R1", session: first.session });
  const again = await register("R1", { A: 5, B: 6, C: 7 });
  await shared.gw.release({ group: "R1", session: again.session });
  assert.deepEqual((await browse("ns=2;s=R1")).map((r) => r.browseName.name), ["A", "B", "C"]);

  const other = await register("R1", { X: 1, A: 2 });
  assert.deepEqual((await browse("ns=2;s=R1")).map((r) => r.browseName.name), ["X", "A"]);
  const stale = await shared.ua.session.read({ nodeId: "ns=2;s=R1.B", attributeId: AttributeIds.Value });
  assert.equal(stale.statusCode.value, StatusCodes.BadNodeIdUnknown.value);
  await shared.gw.release({ group: "R1", session: other.session });
});

test("a task registering again to resume keeps what clients wrote since its last read", async () => {
  const write = (tag, value) =>
    shared.ua.session.write({
      nodeId: `ns=2;s=RS.${tag}`,
      attributeId: AttributeIds.Value,
      value: { value: { dataType: DataType.Double, value } },
    });
  // seen: what the task did after the write; only a call after a read shows
  // that the read's answer arrived.
  const cases = [
    { resume: true, seen: [], expect: { mv: 27, cv: 5 } },
    { resume: true, seen: ["read"], expect: { mv: 27, cv: 5 } },
    { resume: true, seen: ["read", "publish"], expect: { mv: 30, cv: 5 } },
    { resume: true, seen: ["read", "read"], expect: { mv: 30, cv: 5 } },
    { resume: false, seen: [], expect: { mv: 30, cv: 5 } },
  ];
  for (const c of cases) {
    const first = await register("RS", { mv: 30, cv: 1 });
    assert.equal((await write("mv", 27)).name, "Good");
    for (const call of c.seen) {
      if (call === "read") await shared.gw.read({ group: "RS", session: first.session });
      else await shared.gw.publish({ group: "RS", session: first.session, tags: tagsOf({ cv: 2 }) });
    }
    await shared.gw.release({ group: "RS", session: first.session });
    const again = await register("RS", { mv: 30, cv: 5 }, { resume: c.resume });
    assert.deepEqual(valuesOf(await shared.gw.read({ group: "RS", session: again.session })), c.expect, JSON.stringify(c));
    await shared.gw.release({ group: "RS", session: again.session });
  }
});
