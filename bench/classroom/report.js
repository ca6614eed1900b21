"use strict";
// The printed summary of one phase, and of a soak's memory samples.

const { spread, sum } = require("./measures");

const GOAL_PERCENT = 99;
const MB = 1024 * 1024;

const pct = (x) => (x === null || x === undefined ? "-" : `${(x * 100).toFixed(1)} %`);
const cpu = (x) => `${x.toFixed(1)} %`;
const mb = (bytes) => `${(bytes / MB).toFixed(1)} MB`;
const ms = (x) => (x === null ? "-" : `${Math.round(x)} ms`);
const spreadText = (s, format) => (s ? `min ${format(s.min)}  median ${format(s.median)}  max ${format(s.max)}` : "-");
const goal = (met, text) => `${text}${met ? "" : "   MISSED"}`;

// Plants of one kind: how many, the lowest share, CPU and memory per plant.
function byKind(plants) {
  const kinds = new Map();
  for (const p of plants) {
    if (!kinds.has(p.label)) kinds.set(p.label, []);
    kinds.get(p.label).push(p);
  }
  const lines = [];
  for (const [label, list] of kinds) {
    const measured = list.filter((p) => p.cpuPercent !== null);
    const mean = (key) => (measured.length ? sum(measured.map((p) => p[key])) / measured.length : null);
    const cpuEach = mean("cpuPercent");
    const rssEach = mean("rssBytes");
    const low = spread(list.map((p) => p.share));
    lines.push(
      `    ${label.padEnd(24)} ${String(list.length).padStart(3)}   periods min ${pct(low && low.min).padStart(7)}` +
        `   CPU ${(cpuEach === null ? "-" : cpu(cpuEach)).padStart(7)} each` +
        `   RSS ${(rssEach === null ? "-" : mb(rssEach)).padStart(9)} each`,
    );
  }
  return lines;
}

// What the plants, sessions, latency, processes and database did in a phase.
function phaseReport(r) {
  const lines = [];
  const add = (label, text) => lines.push(`  ${label.padEnd(22)} ${text}`);
  lines.push(
    `classroom: speed ${r.speed}, ${r.plants.length} plants, measured over ${r.windowSeconds.toFixed(1)} s` +
      ` (${r.machine.cores} cores)`,
  );

  const shares = r.plants.map((p) => p.share);
  const shareSpread = spread(shares);
  const below = r.plants.filter((p) => p.share === null || p.share < GOAL_PERCENT / 100);
  add(
    "periods run / asked",
    goal(
      below.length === 0,
      `${spreadText(shareSpread, pct)}   goal >= ${GOAL_PERCENT} % (${below.length} plants below or unmeasured)`,
    ),
  );
  lines.push(...byKind(r.plants));

  const open = r.sessions.filter((s) => !s.failure);
  const failed = r.sessions.filter((s) => s.failure);
  const refused = failed.filter((s) => /TooManySessions|refused/i.test(s.failure));
  const lost = r.sessions.filter((s) => s.lost);
  add(
    "sessions",
    goal(
      failed.length === 0 && lost.length === 0,
      `${open.length} open, ${failed.length} failed to open (${refused.length} refused by the server), ${lost.length} lost`,
    ),
  );
  // A session whose plant could not be measured has nothing to compare with.
  const compared = open.filter((s) => s.expected !== null);
  const received = sum(compared.map((s) => s.received));
  const expected = sum(compared.map((s) => s.expected));
  const ratios = compared.map((s) => (s.expected > 0 ? s.received / s.expected : null));
  const ratioSpread = spread(ratios);
  const uncompared = open.length - compared.length;
  const notificationsMet = ratioSpread !== null && ratioSpread.min >= GOAL_PERCENT / 100;
  add(
    "notifications",
    goal(
      notificationsMet,
      `${received} received of ${Math.round(expected)} expected (${pct(expected ? received / expected : null)});` +
        ` per session ${spreadText(ratioSpread, pct)}   goal >= ${GOAL_PERCENT} % each` +
        (uncompared ? ` (${uncompared} sessions of unmeasured plants left out)` : ""),
    ),
  );
  const bad = sum(open.map((s) => s.badValues));
  if (bad > 0) add("", `${bad} notifications with a bad status (a plant gone)`);
  const h = r.latency;
  add(
    "latency (source ts)",
    `p50 ${ms(h.percentile(50))}  p99 ${ms(h.percentile(99))}  max ${ms(h.count ? h.max : null)}` +
      `  over ${h.count} values; sampling + publishing alone allow up to ${r.designLatencyMs} ms`,
  );

  const o = r.opcsim;
  add("opcsim", `CPU ${cpu(o.cpuPercent)} of one core; RSS ${mb(o.rssStart)} -> ${mb(o.rssEnd)}`);
  const pl = r.plantProcesses;
  add(
    `plants (${pl.count} processes)`,
    `CPU ${cpu(pl.cpuSum)} in all, max ${cpu(pl.cpuMax)}; RSS ${mb(pl.rssSum)} in all, max ${mb(pl.rssMax)}`,
  );
  const rec = r.recorders;
  add(
    `recorder (${rec.count} ${rec.all ? "--all" : "per group"})`,
    goal(rec.exited === 0, `CPU ${cpu(rec.cpuSum)} in all; RSS ${mb(rec.rssSum)} in all; ${rec.exited} exited early`),
  );
  for (const line of rec.said.slice(0, 3)) lines.push(`    said at the end: ${line}`);
  add("PostgreSQL", `CPU ${cpu(r.postgres.cpuSum)} (${r.postgres.count} processes)`);
  add("bench client (node)", `CPU ${cpu(r.bench.cpuPercent)}; RSS ${mb(r.bench.rssBytes)}`);
  const ours = o.cpuPercent + pl.cpuSum + rec.cpuSum + r.postgres.cpuSum + r.bench.cpuPercent;
  add(
    "machine",
    `CPU ${cpu(r.machine.cpuPercent)} of ${r.machine.cores * 100} %` +
      ` (the above ${cpu(ours)}, other programs ${cpu(Math.max(0, r.machine.cpuPercent - ours))})`,
  );

  const db = r.database;
  const hours = db.seconds / 3600;
  const rowsPerSecond = (db.end.rows - db.start.rows) / db.seconds;
  add(
    "tsdata",
    `${mb(db.start.tsdataBytes)} -> ${mb(db.end.tsdataBytes)} (${mb((db.end.tsdataBytes - db.start.tsdataBytes) / hours)}/h);` +
      ` ${rowsPerSecond.toFixed(0)} rows/s for ${rec.tagsPerSecond.toFixed(0)} tag values polled per second` +
      ` (${pct(rec.tagsPerSecond ? rowsPerSecond / rec.tagsPerSecond : null)})`,
  );
  add(
    "database",
    `${mb(db.start.databaseBytes)} -> ${mb(db.end.databaseBytes)} (${mb((db.end.databaseBytes - db.start.databaseBytes) / hours)}/h)`,
  );

  const exited = r.plants.filter((p) => p.exit && !p.exit.expected);
  const unregistered = r.plants.filter((p) => !p.registered);
  add("plants exited", goal(exited.length === 0 && unregistered.length === 0, `${exited.length}, never registered ${unregistered.length}`));
  for (const p of [...exited, ...unregistered]) lines.push(`    ${p.group} ${p.label}: ${p.exitText}`);
  for (const s of failed) lines.push(`    session ${s.group}: ${s.failure}`);
  for (const s of lost) lines.push(`    session ${s.group}: ${s.lost}`);
  const trouble = r.plants.filter((p) => p.gatewayTrouble > 0);
  if (trouble.length) {
    add("gateway trouble", `${trouble.length} plants said a period or the gateway failed, e.g. ${trouble[0].group}`);
  }
  return lines.join("\n");
}

// A soak's memory, one line per sample.
function memoryReport(samples) {
  const lines = ["classroom: memory over the soak (RSS)"];
  lines.push(`  ${"minute".padStart(6)}  ${"opcsim".padStart(10)}  ${"plants sum".padStart(11)}  ${"plant max".padStart(10)}  ${"recorder".padStart(10)}`);
  for (const s of samples) lines.push(memoryLine(s));
  return lines.join("\n");
}

function memoryLine(s) {
  return `  ${s.minute.toFixed(1).padStart(6)}  ${mb(s.opcsim).padStart(10)}  ${mb(s.plantsSum).padStart(11)}  ${mb(s.plantsMax).padStart(10)}  ${mb(s.recorders).padStart(10)}`;
}

// The same sample as one line with its labels, for progress while soaking.
function memoryNote(s) {
  return `minute ${s.minute.toFixed(1)}: RSS opcsim ${mb(s.opcsim)}, plants ${mb(s.plantsSum)} (max ${mb(s.plantsMax)}), recorder ${mb(s.recorders)}`;
}

module.exports = { phaseReport, memoryReport, memoryNote, GOAL_PERCENT };
