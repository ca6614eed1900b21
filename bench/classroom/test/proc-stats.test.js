"use strict";
// Reading /proc: fields counted past a command name that holds spaces and
// parentheses, the machine's busy time, and a process's family.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const { execFileSync } = require("node:child_process");
const { parseStat, parseMachine, familyOf } = require("../proc-stats");

const PAGE = Number(execFileSync("getconf", ["PAGESIZE"], { encoding: "utf8" }));

test("parseStat counts fields from the last ')' of the command name", () => {
  const rest = "S 17 17 17 0 -1 4194560 500 0 0 0 250 40 0 0 20 0 3 0 12345 1000000 2000";
  for (const comm of ["node", "a b) (c", "x)"]) {
    const stat = parseStat(`4242 (${comm}) ${rest}`);
    assert.deepEqual(stat, { ppid: 17, ticks: 290, started: 12345, rssBytes: 2000 * PAGE }, comm);
  }
});

test("parseMachine leaves idle and iowait out of the busy ticks, guest time in user", () => {
  const text = "cpu  100 5 50 1000 20 3 2 1 40 0\ncpu0 50 2 25 500 10 1 1 0 20 0\n";
  assert.deepEqual(parseMachine(text), { busy: 161, total: 1181 });
});

test("familyOf finds children and grandchildren, whatever the order of the table", () => {
  const table = new Map([
    [30, { ppid: 20 }],
    [10, { ppid: 1 }],
    [20, { ppid: 10 }],
    [21, { ppid: 10 }],
    [40, { ppid: 1 }],
  ]);
  assert.deepEqual(familyOf(10, table).sort((a, b) => a - b), [10, 20, 21, 30]);
  assert.deepEqual(familyOf(99, table), []);
});

test("usage counts a process started in the window whole, and leaves out one that ended or whose pid was reused", () => {
  const { usage } = require("../proc-stats");
  const ticks = Number(execFileSync("getconf", ["CLK_TCK"], { encoding: "utf8" }));
  const proc = (started, t) => ({ ppid: 1, ticks: t, started, rssBytes: 4096 });
  const before = {
    at: 0,
    uptime: 1000,
    procs: { p: new Map([[1, proc(10, 100)], [2, proc(20, 50)], [3, proc(30, 0)]]) },
  };
  const after = {
    at: 10000,
    uptime: 1000 + 10 * ticks,
    procs: { p: new Map([[1, proc(10, 100 + 5 * ticks)], [3, proc(1500, 2 * ticks)], [4, proc(1200, ticks)]]) },
  };
  const byPid = Object.fromEntries(usage(before, after, "p").map((u) => [u.pid, Math.round(u.cpuPercent)]));
  // 1: 5 s of 10; 2 ended; 3 is another process on a reused pid, started in the window; 4 new
  assert.deepEqual(byPid, { 1: 50, 3: 20, 4: 10 });
});
