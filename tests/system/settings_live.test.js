"use strict";
// Values no plant can use, written through real OPC UA to plant programs on
// the real opcsim: the plant keeps counting, every tag stays finite, a
// refused tag reads back the value in force, and the plant says so once.
// Needs the built tree (VARNOK_BUILD_DIR, default build/).

const { test } = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");

const { repo, until, sleep, startProgram, stopProgram, tagsOf, opcsimWithClient } = require("./support");
const opcsimDir = path.join(repo, "services", "opcsim");
const { AttributeIds, DataType, StatusCodes, VariantArrayType } = require(
  require.resolve("node-opcua-client", { paths: [opcsimDir] }),
);

const SPEED = 20;
// pidLimits: the stem of the built-in PID's output limits, which must refuse
// to cross.
const MODELS = [
  { program: "SISO", object: "TrainingSISO", group: "S1", pidLimits: "MV1" },
  { program: "Fractor", object: "Fractor", group: "S1" },
];
const REFUSAL = /^(\S+) = (\S+) refused in period \d+: .*$/gm;

const live = opcsimWithClient();

// One group's tags as numbers, all from one read request.
async function readAll(group, tags) {
  const values = await live.ua.session.read(
    tags.map((tag) => ({ nodeId: `ns=2;s=${group}.${tag}`, attributeId: AttributeIds.Value })),
  );
  return Object.fromEntries(tags.map((tag, i) => [tag, values[i].value.value]));
}

async function writeAll(group, writes) {
  const statuses = await live.ua.session.write(
    writes.map(([tag, value]) => ({
      nodeId: `ns=2;s=${group}.${tag}`,
      attributeId: AttributeIds.Value,
      value: { value: { dataType: DataType.Double, arrayType: VariantArrayType.Scalar, value } },
    })),
  );
  statuses.forEach((s, i) => assert.equal(s.value, StatusCodes.Good.value, `write ${writes[i][0]}: ${s}`));
}

// Resolves once `periods` more periods have run; the plant must keep counting.
async function periodsLater(group, periods) {
  const start = (await readAll(group, ["RunCount"])).RunCount;
  const counted = async () => (await readAll(group, ["RunCount"])).RunCount >= start + periods;
  await until(counted, 10000, `${periods} periods`);
}

// Writes every [tag, value] at once and checks what the plant made of it.
// Tags that held still before and after the write (another write of the
// episode, a switch, may set a tag moving) and were refused must read back
// what they held; with `allRefused`, every tag that held still must.
async function episode(plant, tags, writes, { allRefused = false } = {}) {
  const { group } = plant.model;
  const held = await readAll(group, tags);
  await periodsLater(group, 3);
  const before = await readAll(group, tags);
  const still = new Set(tags.filter((tag) => Object.is(held[tag], before[tag])));

  const outputStart = plant.child.output.length;
  await writeAll(group, writes);
  await periodsLater(group, 4);
  const after = await readAll(group, tags);
  await periodsLater(group, 2);
  const later = await readAll(group, tags);
  for (const tag of tags) if (!Object.is(after[tag], later[tag])) still.delete(tag);
  await sleep(50); // the plant's lines are flushed with the period; let the pipe deliver them

  const lines = [...plant.child.output.slice(outputStart).matchAll(REFUSAL)];
  const refused = new Map();
  for (const [, tag] of lines) refused.set(tag, (refused.get(tag) || 0) + 1);
  for (const [tag, count] of refused) assert.equal(count, 1, `${count} lines for ${tag}: ${plant.child.output}`);

  const what = writes.map(([tag, value]) => `${tag}=${value}`).join(" ");
  for (const tag of tags) assert.ok(Number.isFinite(after[tag]), `${tag} reads ${after[tag]} after ${what}`);
  for (const [tag] of writes) {
    if (still.has(tag) && (allRefused || refused.has(tag))) {
      assert.equal(after[tag], before[tag], `${tag} after ${what}; the plant said: ${plant.child.output}`);
    }
  }
  return refused;
}

for (const model of MODELS) {
  test(`${model.program}: unusable writes through OPC UA are refused and the plant runs on`, async () => {
    const tags = tagsOf(model).filter((tag) => tag !== "RunCount");
    const args = ["--host", "127.0.0.1", "--port", String(live.sim.gatewayPort), "--group", model.group];
    const child = startProgram(model.program, [...args, "--speed", String(SPEED)]);
    const plant = { model, child };
    try {
      await until(async () => child.output.includes(`Group ${model.group} registered`), 15000, "registration");
      await periodsLater(model.group, 1);

      // Several tags per episode: each is judged on its own.
      for (const value of [NaN, Infinity, -Infinity]) {
        await episode(plant, tags, tags.map((tag) => [tag, value]), { allRefused: true });
      }
      for (const value of [1e308, -1e308, -3]) await episode(plant, tags, tags.map((tag) => [tag, value]));

      // Limits crossing their partner, named X_LO / X_HI in the tag set.
      const pairs = tags.filter((t) => t.endsWith("_LO") && tags.includes(`${t.slice(0, -3)}_HI`));
      for (const [side, other, step] of pairs.length ? [["_LO", "_HI", 1], ["_HI", "_LO", -1]] : []) {
        const now = await readAll(model.group, tags);
        const writes = pairs.map((lo) => {
          const stem = lo.slice(0, -3);
          return [stem + side, now[stem + other] + step];
        });
        const refused = await episode(plant, tags, writes);
        const pid = model.pidLimits && model.pidLimits + side;
        if (pid) assert.ok(refused.has(pid), `${pid} crossing its partner was not refused`);
      }
      assert.ok(child.running(), `${model.program} stopped: ${child.output}`);
    } finally {
      await stopProgram(child);
    }
  });
}
