"use strict";
// The classroom benchmark's load: for each speed, every trainee's plant on
// its own group, a subscribed session per group and the recorder, measured
// over one phase (phase.js). Started by bench/classroom.sh, which owns the
// services; every process started here is written to a pid file in the
// state folder, so that the script can end them should this one die first.
//
// Exit codes: 0 when the phases ran (goals met or not), 1 when they could
// not, 2 for a bad command line.

const fs = require("node:fs");
const path = require("node:path");

const { recordsAllGroups } = require("./recorder");
const { Certificates, MonitorSession } = require("./ua");
const { Phase, Interrupted, say, PHASE_OVERHEAD_MS } = require("./phase");
const { phaseReport, memoryReport } = require("./report");
const { parseArgs, UsageError, USAGE } = require("./args");

// The postmaster serving the data directory, from the command lines in /proc.
function postmasterPid(pgData) {
  for (const name of fs.readdirSync("/proc")) {
    if (!/^\d+$/.test(name)) continue;
    let args;
    try {
      args = fs.readFileSync(`/proc/${name}/cmdline`, "utf8").split("\0");
    } catch {
      continue;
    }
    const d = args.indexOf("-D");
    if (path.basename(args[0]) === "postgres" && d > 0 && path.resolve(args[d + 1] || "") === path.resolve(pgData)) {
      return Number(name);
    }
  }
  return null;
}

async function main() {
  let config;
  try {
    config = parseArgs(process.argv.slice(2));
  } catch (err) {
    if (err instanceof UsageError) {
      say(err.message);
      return 2;
    }
    throw err;
  }
  if (config.help) {
    console.log(USAGE);
    return 0;
  }

  const controller = new AbortController();
  for (const signal of ["SIGINT", "SIGTERM"]) {
    process.on(signal, () => {
      say(`${signal}: stopping`);
      controller.abort();
    });
  }
  const limitMs = config.speeds.length * (config.seconds * 1000 + PHASE_OVERHEAD_MS);
  setTimeout(() => {
    say(`still running after ${Math.round(limitMs / 60000)} min: stopping`);
    controller.abort();
  }, limitMs).unref();
  const opcsimPid = Number(fs.readFileSync(path.join(config.stateDir, "opcsim.pid"), "utf8"));
  const postmaster = postmasterPid(config.pgData);
  if (!postmaster) say(`no postmaster found for ${config.pgData}; PostgreSQL's CPU is left out`);
  const certificates = new Certificates(path.join(config.stateDir, "classroom-pki"));
  const monitor = new MonitorSession();
  await monitor.open(config.endpoint, certificates);
  const recordAll = recordsAllGroups(config.binDir);
  say(`recording with ${recordAll ? "one varnok-record --all" : "one varnok-record per group (no --all yet)"}`);
  const context = { monitor, certificates, stop: controller.signal, recordAll, opcsimPid, postmaster };

  try {
    for (const speed of config.speeds) {
      const result = await new Phase(config, speed, context).run();
      process.stdout.write(`\n${phaseReport(result)}\n`);
      if (config.soak) process.stdout.write(`${memoryReport(result.memory)}\n`);
    }
  } catch (err) {
    if (err instanceof Interrupted) {
      say("interrupted; everything started was stopped");
      return 1;
    }
    throw err;
  } finally {
    await monitor.close();
  }
  return 0;
}

main().then(
  (code) => process.exit(code),
  (err) => {
    say(`could not run: ${err.message}`);
    process.exit(1);
  },
);
