"use strict";
// A plant file served by varnok-plant on the real opcsim, seen by a
// node-opcua client as a user's own client would: the group's tags, the
// units and ranges the file gives, and a written MV reaching the CV after
// the path's dead time. Needs the built tree (VARNOK_BUILD_DIR, default build/).

const { test } = require("node:test");
const fs = require("node:fs");
const os = require("node:os");
const assert = require("node:assert/strict");
const path = require("node:path");

const { repo, until, sleep, startProgram, stopProgram, exitOf, opcsimWithClient } = require("./support");
const opcsimDir = path.join(repo, "services", "opcsim");
const { AttributeIds, DataType, StatusCodes, BrowseDirection } = require(
  require.resolve("node-opcua-client", { paths: [opcsimDir] }),
);

const WOOD_BERRY = path.join(repo, "examples", "plants", "wood_berry.yaml");
const GROUP = "WB1";

const live = opcsimWithClient();

const node = (tag) => `ns=2;s=${GROUP}.${tag}`;

async function read(tags) {
  const values = await live.ua.session.read(tags.map((tag) => ({ nodeId: node(tag), attributeId: AttributeIds.Value })));
  return values.map((v) => v.value.value);
}

async function write(tag, value) {
  const [status] = await live.ua.session.write([
    { nodeId: node(tag), attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Double, value } } },
  ]);
  assert.equal(status.value, StatusCodes.Good.value, `write ${tag}: ${status}`);
}

// The variable's properties by browse name, read as a client finds them.
async function properties(tag) {
  const browsed = await live.ua.session.browse({
    nodeId: node(tag),
    referenceTypeId: "HasProperty",
    browseDirection: BrowseDirection.Forward,
    includeSubtypes: true,
    resultMask: 0x3f,
  });
  const out = {};
  for (const ref of browsed.references || []) {
    const [value] = await live.ua.session.read([{ nodeId: ref.nodeId, attributeId: AttributeIds.Value }]);
    out[ref.browseName.name] = value.value.value;
  }
  return out;
}

test("varnok-plant serves the Wood-Berry file: tags, units and ranges, and the MV2 -> CV1 dead time", async () => {
  const child = startProgram("varnok-plant", [
    WOOD_BERRY,
    "--group",
    GROUP,
    "--speed",
    "10",
    "--host",
    "127.0.0.1",
    "--port",
    String(live.sim.gatewayPort),
  ]);
  try {
    await until(async () => child.output.includes(`Group ${GROUP} registered`), 15000, "registration");

    const browsed = await live.ua.session.browse(`ns=2;s=${GROUP}`);
    const names = browsed.references.map((r) => r.browseName.name);
    for (const tag of ["MV1", "MV2", "DV1", "CV1", "CV2", "RunCount", "SET_CV_STD", "SET_DV_RANDOM"]) {
      assert.ok(names.includes(tag), `${tag} missing from ${names}`);
    }

    const cv1 = await properties("CV1");
    assert.equal(cv1.EngineeringUnits.displayName.text, "mol%");
    assert.deepEqual([cv1.EURange.low, cv1.EURange.high], [0, 100]);
    const [description] = await live.ua.session.read([{ nodeId: node("CV1"), attributeId: AttributeIds.Description }]);
    assert.match(description.value.value.text, /distillate/);
    assert.deepEqual(await properties("RunCount").then((p) => Object.keys(p).includes("EURange")), false);

    // Without noise and walks a period moves CV1 by far less than the step's
    // first effect (18.9 · 0.5 · (1 − e^(−1/21)) ≈ 0.44): what is left of
    // the feed walk moves it by hundredths.
    await write("SET_CV_STD", 0);
    await write("SET_DV_RANDOM", 0);
    const cv1ByPeriod = new Map();
    const sample = async () => {
      const [count, value] = await read(["RunCount", "CV1"]);
      if (!cv1ByPeriod.has(count)) cv1ByPeriod.set(count, value);
      return count;
    };
    // One minute of plant time per period, 6 s at speed 10: every period is seen.
    const sampleUntil = async (count, what) => {
      const deadline = Date.now() + 120000;
      while ((await sample()) < count) {
        if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
        await sleep(50);
      }
    };
    await sampleUntil((await sample()) + 2, "two periods without noise");

    const [mv2] = await read(["MV2"]);
    const before = await sample();
    await write("MV2", mv2 + 0.5);
    const afterWrite = await sample();
    await sampleUntil(afterWrite + 5, "5 periods after the step");

    // The write reached the task of period c in [before + 1, afterWrite + 1];
    // with a dead time of 3 periods CV1 first moves in period c + 3.
    let moved = null;
    for (let k = before + 1; cv1ByPeriod.has(k); ++k) {
      if (cv1ByPeriod.has(k - 1) && cv1ByPeriod.get(k) - cv1ByPeriod.get(k - 1) < -0.2) {
        moved = k;
        break;
      }
    }
    assert.ok(moved !== null, `CV1 never moved: ${[...cv1ByPeriod]}`);
    assert.ok(moved >= before + 4 && moved <= afterWrite + 4, `CV1 moved in ${moved}, step in ${before + 1}..${afterWrite + 1}`);
  } finally {
    await stopProgram(child);
  }
});

test("varnok-plant refuses a bad plant file with its position and exit 2, and starts nothing", async () => {
  const bad = path.join(fs.mkdtempSync(path.join(os.tmpdir(), "varnok-plant-")), "bad.yaml");
  fs.writeFileSync(bad, "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {V: {gain: 1}}}\n");
  const child = startProgram("varnok-plant", [bad, "--port", String(live.sim.gatewayPort)]);
  const { code } = await exitOf(child);
  assert.equal(code, 2);
  assert.equal(child.output, `varnok-plant: ${bad}:4:27: "V" is not an input\n`);
});
