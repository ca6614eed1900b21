"use strict";
// How many OPC UA sessions one opcsim holds at once, each with a
// subscription, and what holding them costs; and that the one past the limit
// is told why. Starts its own opcsim with the default limit.
//
//   node bench/opcsim/sessions.js [SESSIONS]      (default 210)

const fs = require("node:fs");
const path = require("node:path");
const helpers = require(path.join(__dirname, "..", "..", "services", "opcsim", "test", "helpers"));
const { ClientSubscription } = require(path.join(__dirname, "..", "..", "services", "opcsim", "node_modules", "node-opcua-client"));

const wanted = Number(process.argv[2] ?? 210);
if (!Number.isInteger(wanted) || wanted < 1 || wanted > 5000) {
  console.error("usage: node bench/opcsim/sessions.js [SESSIONS]  (1..5000)");
  process.exit(2);
}

const rssMiB = (pid) => Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, "utf8"))[1]) / 1024;

async function main() {
  const sim = await helpers.startOpcsim();
  const opened = [];
  const failures = new Map();
  const rssBefore = rssMiB(sim.child.pid);
  const started = Date.now();
  try {
    // In batches, as a class connects: not all in the same millisecond.
    for (let i = 0; i < wanted; i += 20) {
      const batch = await Promise.allSettled(
        Array.from({ length: Math.min(20, wanted - i) }, async () => {
          const s = await helpers.opcuaSession(sim.endpoint);
          s.subscription = await ClientSubscription.create(s.session, {
            requestedPublishingInterval: 1000,
            requestedLifetimeCount: 100,
            requestedMaxKeepAliveCount: 10,
            publishingEnabled: true,
          });
          return s;
        }),
      );
      for (const r of batch) {
        if (r.status === "fulfilled") opened.push(r.value);
        else failures.set(r.reason.message, (failures.get(r.reason.message) ?? 0) + 1);
      }
    }
    const seconds = (Date.now() - started) / 1000;
    console.log("| sessions asked | opened with a subscription | refused | opening took | opcsim RSS before | with all open |");
    console.log("|---|---|---|---|---|---|");
    console.log(
      `| ${wanted} | ${opened.length} | ${wanted - opened.length} | ${seconds.toFixed(1)} s | ${rssBefore.toFixed(0)} MiB | ${rssMiB(sim.child.pid).toFixed(0)} MiB |`,
    );
    for (const [message, n] of failures) console.log(`refused ${n}x: ${message}`);
  } finally {
    await Promise.allSettled(opened.map((s) => s.subscription.terminate()));
    await Promise.allSettled(opened.map((s) => s.close()));
    sim.kill();
  }
}

main().then(
  () => process.exit(0),
  (err) => {
    console.error(`sessions: ${err.stack || err}`);
    process.exit(1);
  },
);
