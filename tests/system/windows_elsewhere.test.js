"use strict";
// Services on ports other than the defaults, and programs told where they
// are only by the environment variables scripts/services reads: a plant
// program, the viewer and the launcher find them without an option.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { until, sleep, startProgram, Services } = require("./support");

let services;

before(async () => {
  services = await Services.start();
});

after(() => services?.dispose());

const windowEnv = () => ({ ...services.env(), QT_QPA_PLATFORM: "offscreen" });

test("a plant program and the viewer reach opcsim and the database by the environment alone", async () => {
  const group = "W1";
  const plant = startProgram("SISO", ["--group", group, "--speed", "10"], { env: services.env() });
  await until(async () => (await services.read(group, ["RunCount"])).RunCount >= 3, 20000, "the plant to run");
  const viewer = startProgram("Quorra", ["--group", group], { env: windowEnv() });
  try {
    await until(async () => services.recorded(`2:${group}.RunCount`).length >= 3, 30000, "the viewer to record");
    const counts = services.recorded(`2:${group}.RunCount`);
    assert.ok(counts.at(-1) > counts[0], `RunCount recorded as it counts: ${counts}`);
    assert.ok(viewer.running(), viewer.output);
  } finally {
    viewer.kill("SIGKILL");
    plant.kill("SIGTERM");
  }
});

test("the launcher's start-up checks pass on the environment's ports and it opens its window", async () => {
  const launcher = startProgram("Velmora", [], { env: windowEnv() });
  try {
    await until(async () => launcher.output.includes("OrvaneOPCSim is reachable."), 20000, "the launcher's OPC check");
    // A failed database check would have asked at once; give it time to.
    await sleep(3000);
    assert.ok(launcher.running(), `the launcher ended: ${launcher.output}`);
    assert.doesNotMatch(launcher.output, /Database connection error/);
  } finally {
    launcher.kill("SIGKILL");
  }
});

test("a port given in the environment that is not a port stops a window with exit 2 naming the variable", async () => {
  const viewer = startProgram("Quorra", [], { env: { ...windowEnv(), VARNOK_OPCUA_PORT: "22x00" } });
  const { code } = await viewer.exited;
  assert.equal(code, 2);
  assert.match(viewer.output, /VARNOK_OPCUA_PORT: invalid port "22x00"/);
});
