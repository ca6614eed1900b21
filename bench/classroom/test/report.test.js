"use strict";
// The phase table marks exactly the goals that were not met.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const { phaseReport } = require("../report");
const { LatencyHistogram } = require("../measures");

function phase({ share = 1, received = 240, failure = null, exit = null } = {}) {
  const latency = new LatencyHistogram();
  latency.add(600);
  const plant = (group) => ({ group, label: "SISO", registered: true, exit, exitText: "exit 0: bye", gatewayTrouble: 0 });
  return {
    speed: 10,
    windowSeconds: 120,
    designLatencyMs: 1500,
    plants: [
      { ...plant("G01"), share: 1, cpuPercent: 1, rssBytes: 1 << 20 },
      { ...plant("G02"), share, cpuPercent: 1, rssBytes: 1 << 20 },
    ],
    sessions: [
      { group: "G01", failure: null, lost: null, received: 240, expected: 240, badValues: 0 },
      { group: "G02", failure, lost: null, received, expected: 240, badValues: 0 },
    ],
    latency,
    opcsim: { cpuPercent: 10, rssStart: 1 << 20, rssEnd: 1 << 20 },
    plantProcesses: { count: 2, cpuSum: 2, cpuMax: 1, rssSum: 2 << 20, rssMax: 1 << 20 },
    recorders: { count: 1, all: true, cpuSum: 1, rssSum: 1 << 20, exited: 0, said: ["recorded 120 polls"], tagsPerSecond: 60 },
    postgres: { count: 5, cpuSum: 3 },
    bench: { cpuPercent: 2, rssBytes: 1 << 20 },
    machine: { cpuPercent: 50, cores: 2 },
    database: { start: { tsdataBytes: 0, databaseBytes: 0, rows: 0 }, end: { tsdataBytes: 0, databaseBytes: 0, rows: 0 }, seconds: 120 },
  };
}

const missed = (text) =>
  text
    .split("\n")
    .filter((line) => line.endsWith("MISSED"))
    .map((line) => line.trim().split(/\s{2,}/)[0]);

test("MISSED stands beside each goal not met, and nowhere in a healthy phase", () => {
  const cases = [
    [{}, []],
    [{ share: 0.985 }, ["periods run / asked"]],
    [{ received: 237 }, ["notifications"]],
    [{ failure: "BadTooManySessions" }, ["sessions"]],
    [{ exit: { code: 1, signal: null, expected: false } }, ["plants exited"]],
  ];
  for (const [change, goals] of cases) assert.deepEqual(missed(phaseReport(phase(change))), goals, JSON.stringify(change));
});
