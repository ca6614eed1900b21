"use strict";
// Every built-in plant program serves its default group on the real opcsim,
// one after another: an OPC UA client sees all of the plant's tags, in
// order, and RunCount counting.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { spawn } = require("node:child_process");

const repo = path.resolve(__dirname, "..", "..");
const opcsimDir = path.join(repo, "services", "opcsim");
const { AttributeIds, BrowseDirection, StatusCodes } = require(
  require.resolve("node-opcua-client", { paths: [opcsimDir] }),
);

const { buildDir, until, tagsOf, opcsimWithClient } = require("./support");
const MODELS = [
  { program: "SISO", object: "TrainingSISO", group: "S1" },
  { program: "Brinell", object: "Brinell", group: "S1" },
  { program: "Calder", object: "MIMOModel_2x3", group: "S1" },
  { program: "Fractor", object: "Fractor", group: "S1" },
  { program: "Dunmore", object: "LPV_SISO_process", group: "LPV1" },
  { program: "Farrow", object: "DV_process", group: "S7" },
];

const live = opcsimWithClient();

for (const model of MODELS) {
  test(`${model.program} serves group ${model.group} with all its tags and RunCount counting`, async () => {
    const expected = tagsOf(model);
    const child = spawn(
      path.join(buildDir, "bin", model.program),
      ["--host", "127.0.0.1", "--port", String(live.sim.gatewayPort), "--speed", "50"],
      { stdio: ["ignore", "pipe", "pipe"] },
    );
    let output = "";
    child.stdout.setEncoding("utf8").on("data", (d) => (output += d));
    child.stderr.setEncoding("utf8").on("data", (d) => (output += d));
    const exited = new Promise((r) => child.once("exit", (code, signal) => r({ code, signal })));
    try {
      await until(async () => output.includes(`Group ${model.group} registered`), 15000, `${model.program} to register`);
      const result = await live.ua.session.browse({
        nodeId: `ns=2;s=${model.group}`,
        browseDirection: BrowseDirection.Forward,
        referenceTypeId: "HierarchicalReferences",
        includeSubtypes: true,
        resultMask: 0x3f,
      });
      assert.equal(result.statusCode.value, StatusCodes.Good.value);
      assert.deepEqual(result.references.map((r) => r.browseName.name), expected);

      const runCount = async () =>
        (await live.ua.session.read({ nodeId: `ns=2;s=${model.group}.RunCount`, attributeId: AttributeIds.Value })).value
          .value;
      const first = await until(async () => (await runCount()) > 0 && runCount(), 10000, "first period");
      await until(async () => (await runCount()) >= first + 10, 10000, "ten more periods");
    } finally {
      child.kill("SIGTERM");
      const { code } = await exited;
      assert.equal(code, 0, `${model.program} exit: ${output}`);
    }
  });
}

test("a bad option stops a plant program with one line saying why, its usage in the guide's words, and exit 2", () => {
  const cases = [
    [["--port", "abc"], 'SISO: --port: "abc" is not a whole decimal number'],
    [["--speed", "0"], "SISO: --speed: 0 is not a positive number"],
    [["--speed", "-2.5"], "SISO: --speed: -2.5 is not a positive number"],
  ];
  for (const [args, line] of cases) {
    const result = require("node:child_process").spawnSync(path.join(buildDir, "bin", "SISO"), args, {
      encoding: "utf8",
      timeout: 10000,
      env: { ...process.env, VARNOK_GATEWAY_PORT: "", VARNOK_HOST: "" },
    });
    assert.equal(result.status, 2, args.join(" "));
    assert.equal(result.stderr.split("\n")[0], line);
    assert.match(result.stderr, /--port INT=22210\s+gateway port of opcsim, not the OPC UA port/);
    assert.match(result.stderr, /--host TEXT=localhost\s+machine that runs opcsim/);
    assert.match(result.stderr, /--group TEXT=S1\s+tag group/);
    assert.match(result.stderr, /--speed FLOAT:POSITIVE=1\s+periods per second of real time/);
  }
});
