"use strict";
// bench/classroom.sh refuses bad options with one line and exit 2 before it
// starts anything, and prints the usage on --help.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { spawnSync } = require("node:child_process");

const script = path.resolve(__dirname, "..", "..", "classroom.sh");
const run = (args) => spawnSync(script, args, { encoding: "utf8", timeout: 20000 });

test("bad options: exit 2 and a line naming the option, no services started", () => {
  const cases = [
    [["--plants", "0"], "--plants: 0 is not in 1..500"],
    [["--plants", "12x"], '--plants: expected a whole number, got "12x"'],
    [["--speeds", "1,,10"], '--speeds: "" is not a number'],
    [["--speeds", "0"], "--speeds: 0 is not above 0 and at most 1000"],
    [["--seconds", "5"], "--seconds: 5 is not in 10..86400"],
    [["--seconds"], "--seconds: a value is missing"],
    [["--soak", "extra"], 'unknown option "extra" (see --help)'],
  ];
  for (const [args, message] of cases) {
    const result = run(args);
    assert.equal(result.status, 2, args.join(" "));
    assert.equal(result.stderr.split("\n")[0], `classroom: ${message}`);
    assert.doesNotMatch(result.stderr, /starting services/);
  }
});

test("--help lists every option and exits 0", () => {
  const result = run(["--help"]);
  assert.equal(result.status, 0);
  for (const option of ["--plants N", "--speeds LIST", "--seconds S", "--soak", "--help"]) {
    assert.match(result.stdout, new RegExp(`^  ${option}`, "m"));
  }
});

test("--soak makes one hour at speed 10 the default, and the options still override it", () => {
  const { parseOptions } = require("../args");
  const cases = [
    [[], { plants: 50, speeds: [1, 10], seconds: 120, soak: false }],
    [["--soak"], { plants: 50, speeds: [10], seconds: 3600, soak: true }],
    [["--soak", "--seconds", "600", "--speeds", "2.5"], { plants: 50, speeds: [2.5], seconds: 600, soak: true }],
    [["--plants", "7", "--speeds", "1,10,.5"], { plants: 7, speeds: [1, 10, 0.5], seconds: 120, soak: false }],
  ];
  for (const [args, expected] of cases) assert.deepEqual(parseOptions(args), expected, args.join(" "));
});
