"use strict";
// What records the class: one varnok-record for every group when it knows
// --all, else one per group (the older program), polling every second.

const path = require("node:path");
const { execFileSync } = require("node:child_process");
const { Program } = require("./program");

const PERIOD_MS = 1000;

function recordsAllGroups(binDir) {
  const help = execFileSync(path.join(binDir, "varnok-record"), ["--help"], { encoding: "utf8", timeout: 10000 });
  return /^\s*--all\b/m.test(help);
}

// The recorder processes for `groups`; `all` true starts the single one.
function startRecorders(groups, { binDir, all, endpoint, dbPort, onSpawn }) {
  const file = path.join(binDir, "varnok-record");
  const common = ["--endpoint", endpoint, "--period", String(PERIOD_MS), "--db-port", String(dbPort)];
  if (all) return [new Program(file, ["--all", ...common], { onSpawn })];
  return groups.map((group) => new Program(file, ["--group", group, ...common], { onSpawn }));
}

module.exports = { PERIOD_MS, recordsAllGroups, startRecorders };
