"use strict";
// The whole benchmark on its own real services, small: it reports a phase
// and leaves nothing behind, neither after a run nor after Ctrl-C.
// Needs the built programs (scripts/build release) and PostgreSQL 15.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { spawn, execFileSync } = require("node:child_process");

const script = path.resolve(__dirname, "..", "..", "classroom.sh");
const LIMIT_MS = 600000;

// The script in a process group of its own, as a terminal runs it.
function start(args) {
  const child = spawn(script, args, { stdio: ["ignore", "pipe", "pipe"], detached: true });
  const run = { child, stdout: "", stderr: "" };
  child.stdout.setEncoding("utf8").on("data", (d) => (run.stdout += d));
  child.stderr.setEncoding("utf8").on("data", (d) => (run.stderr += d));
  const timer = setTimeout(() => process.kill(-child.pid, "SIGKILL"), LIMIT_MS);
  run.exited = new Promise((resolve) =>
    child.once("close", (code) => {
      clearTimeout(timer);
      resolve(code);
    }),
  );
  return run;
}

async function untilSaid(run, pattern) {
  while (!pattern.test(run.stderr)) {
    if (run.child.exitCode !== null) throw new Error(`ended before ${pattern}: ${run.stderr}`);
    await new Promise((r) => setTimeout(r, 200));
  }
}

// The run's state folder and ports, from its first line.
function whereOf(run) {
  const m = /starting services in (\S+) \(OPC UA (\d+), gateway (\d+), db (\d+)\)/.exec(run.stderr);
  assert.ok(m, run.stderr);
  return { state: m[1], opcua: m[2], gateway: m[3], db: m[4] };
}

// Live processes naming the run's state folder or ports.
function leftovers({ state, opcua, gateway, db }) {
  const ps = execFileSync("ps", ["-eo", "pid=,stat=,args="], { encoding: "utf8" });
  return ps
    .split("\n")
    .filter((line) => line.trim() && !/^\s*\d+\s+Z/.test(line) && !line.includes(" ps -eo "))
    .filter((line) => [state, `:${opcua}`, `--port ${gateway}`, `-p ${db}`].some((s) => line.includes(s)));
}

test("a small class runs, reports its phase and leaves no process nor folder", async () => {
  const run = start(["--plants", "7", "--speeds", "10", "--seconds", "10"]);
  const code = await run.exited;
  assert.equal(code, 0, run.stderr);
  const where = whereOf(run);
  assert.match(run.stdout, /^classroom: speed 10, 7 plants, measured over/m);
  assert.match(run.stdout, /^ {2}sessions +7 open, 0 failed to open/m);
  assert.match(run.stdout, /^ {2}plants exited +0, never registered 0$/m);
  assert.deepEqual(leftovers(where), []);
  assert.equal(fs.existsSync(where.state), false);
});

test("Ctrl-C while measuring stops everything, removes the folder and exits 1", async () => {
  const run = start(["--plants", "3", "--speeds", "1", "--seconds", "600"]);
  await untilSaid(run, /measuring for 600 s/);
  const where = whereOf(run);
  process.kill(-run.child.pid, "SIGINT");
  assert.equal(await run.exited, 1);
  assert.deepEqual(leftovers(where), []);
  assert.equal(fs.existsSync(where.state), false);
});
