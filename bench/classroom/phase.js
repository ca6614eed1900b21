"use strict";
// One phase of the benchmark at one speed: the class's plants started, a
// subscribed session per group, the recorder, a warm-up, the measured
// seconds, and everything stopped again; its result for the report.

const fs = require("node:fs");
const path = require("node:path");

const { classMix, PlantProcess } = require("./plants");
const { startRecorders, PERIOD_MS: RECORD_PERIOD_MS } = require("./recorder");
const { TraineeSession, SAMPLING_MS, PUBLISHING_MS } = require("./ua");
const { LatencyHistogram, periodShare, expectedNotifications, sum } = require("./measures");
const procStats = require("./proc-stats");
const { databaseSize } = require("./database");
const { memoryNote } = require("./report");

const repo = path.resolve(__dirname, "..", "..");
const REGISTER_MS_BASE = 60000;
const REGISTER_MS_PER_PLANT = 1000;
const WARMUP_PERIODS = 12; // Farrow's CVs stand still for its first nine periods
const WARMUP_MS = 90000;
const RECORDER_PROBE_MS = 5000; // between two counts of the rows recorded
const STOP_MS = 10000;
const SESSIONS_AT_ONCE = 8;
const SOAK_SAMPLE_MS = 60000;
const PROGRESS_MS = 30000;
// Beyond the measured seconds, what a phase may take to start and stop
// before the whole run is given up.
const PHASE_OVERHEAD_MS = 900000;

class Interrupted extends Error {}

const say = (line) => process.stderr.write(`classroom: ${line}\n`);

// Resolves after ms, early with Interrupted when `stop` fires.
function sleep(ms, stop) {
  return new Promise((resolve, reject) => {
    if (stop.aborted) return reject(new Interrupted("interrupted"));
    const onAbort = () => {
      clearTimeout(timer);
      reject(new Interrupted("interrupted"));
    };
    const timer = setTimeout(() => {
      stop.removeEventListener("abort", onAbort);
      resolve();
    }, ms);
    stop.addEventListener("abort", onAbort, { once: true });
  });
}

// Polls check() until it is true or limitMs passed; returns whether it was.
async function waitFor(check, limitMs, stop) {
  const deadline = Date.now() + limitMs;
  for (;;) {
    if (await check().catch(() => false)) return true;
    if (Date.now() > deadline) return false;
    await sleep(250, stop);
  }
}

async function inBatches(items, size, work) {
  for (let i = 0; i < items.length; i += size) await Promise.all(items.slice(i, i + size).map(work));
}

class Phase {
  constructor(config, speed, context) {
    this.config = config;
    this.speed = speed;
    this.context = context; // { monitor, certificates, stop, recordAll, opcsimPid, postmaster }
    this.plants = [];
    this.sessions = [];
    this.recorders = [];
    this.latency = new LatencyHistogram();
    this.memory = [];
  }

  get stop() {
    return this.context.stop;
  }

  spawned(pid) {
    fs.appendFileSync(this.config.pidFile, `${pid}\n`);
  }

  async startPlants() {
    const mix = classMix(this.config.plants, path.join(repo, "examples", "plants"));
    const options = {
      binDir: this.config.binDir,
      gatewayPort: this.config.gatewayPort,
      speed: this.speed,
      onSpawn: (pid) => this.spawned(pid),
    };
    this.plants = mix.map((plant) => new PlantProcess(plant, options));
    const limit = REGISTER_MS_BASE + REGISTER_MS_PER_PLANT * mix.length;
    await waitFor(async () => this.plants.every((p) => p.registered || !p.running()), limit, this.stop);
    const registered = this.plants.filter((p) => p.registered).length;
    say(`speed ${this.speed}: ${registered} of ${this.plants.length} plants registered`);
    if (registered === 0) throw new Error(`no plant registered; the first said: ${this.plants[0].describeExit()}`);
  }

  async openSessions() {
    const groups = this.plants.map((p) => p.plant.group);
    this.sessions = groups.map((g) => new TraineeSession(g, this.latency));
    await inBatches(this.sessions, SESSIONS_AT_ONCE, (s) =>
      this.stop.aborted ? null : s.open(this.config.endpoint, this.context.certificates),
    );
    if (this.stop.aborted) throw new Interrupted("interrupted");
    const open = this.sessions.filter((s) => s.isOpen()).length;
    say(`speed ${this.speed}: ${open} of ${this.sessions.length} sessions subscribed`);
  }

  startRecorders() {
    this.recorders = startRecorders(
      this.plants.map((p) => p.plant.group),
      {
        binDir: this.config.binDir,
        all: this.context.recordAll,
        endpoint: this.config.endpoint,
        dbPort: this.config.dbPort,
        onSpawn: (pid) => this.spawned(pid),
      },
    );
  }

  // Every plant past its first WARMUP_PERIODS periods (past its first one
  // where a period lasts longer than a second), the recorders polling.
  async warmUp() {
    const groups = this.plants.map((p) => p.plant.group);
    const needed = this.plants.map((p) => ((p.plant.periodSeconds / this.speed) <= 1 ? WARMUP_PERIODS : 1));
    const ready = await waitFor(
      async () => {
        const counts = await this.context.monitor.runCounts(groups);
        return counts.every((c, i) => !this.plants[i].running() || (c.good && c.count >= needed[i]));
      },
      WARMUP_MS,
      this.stop,
    );
    if (!ready) say(`speed ${this.speed}: not every plant warmed up within ${WARMUP_MS / 1000} s; measuring anyway`);
    // Rows growing: the recorder found the groups and writes.
    let rows = (await databaseSize()).rows;
    const recording = await waitFor(
      async () => {
        await sleep(RECORDER_PROBE_MS, this.stop);
        const before = rows;
        rows = (await databaseSize()).rows;
        return rows > before;
      },
      WARMUP_MS,
      this.stop,
    );
    if (!recording) say(`speed ${this.speed}: the recorder wrote nothing within ${WARMUP_MS / 1000} s; measuring anyway`);
  }

  processes() {
    const table = procStats.allProcesses();
    const postgres = this.context.postmaster ? procStats.familyOf(this.context.postmaster, table) : [];
    return {
      opcsim: [this.context.opcsimPid],
      plants: this.plants.map((p) => p.pid).filter((pid) => pid !== undefined),
      recorders: this.recorders.map((r) => r.pid).filter((pid) => pid !== undefined),
      postgres,
      bench: [process.pid],
    };
  }

  async measure() {
    const groups = this.plants.map((p) => p.plant.group);
    const parts = this.processes();
    const dbStart = await databaseSize();
    const dbStartAt = Date.now();
    const procStart = procStats.snapshot(parts);
    const from = Date.now();
    for (const s of this.sessions) s.window = { from, to: Infinity };
    const countsStart = await this.context.monitor.runCounts(groups);
    say(`speed ${this.speed}: measuring for ${this.config.seconds} s`);

    const started = Date.now();
    const end = started + this.config.seconds * 1000;
    let nextSample = this.config.soak ? started : Infinity;
    let nextProgress = started + PROGRESS_MS;
    for (;;) {
      const now = Date.now();
      if (now >= end) break;
      if (now >= nextSample) {
        this.sampleMemory(parts, (now - started) / 60000);
        nextSample += SOAK_SAMPLE_MS;
      }
      if (now >= nextProgress) {
        const gone = this.plants.filter((p) => p.exit && !p.exit.expected).length;
        say(`speed ${this.speed}: ${Math.round((now - started) / 1000)} of ${this.config.seconds} s, ${gone} plants exited`);
        nextProgress += PROGRESS_MS;
      }
      await sleep(Math.min(end, nextSample, nextProgress) - now, this.stop);
    }
    if (this.config.soak) this.sampleMemory(parts, (Date.now() - started) / 60000);

    // Processes again: a database backend may have started meanwhile.
    const procEnd = procStats.snapshot(this.processes());
    const to = Date.now();
    for (const s of this.sessions) s.window.to = to;
    const countsEnd = await this.context.monitor.runCounts(groups);
    const dbEnd = await databaseSize();
    const dbEndAt = Date.now();
    const recorderExits = this.recorders.filter((r) => r.exit && !r.exit.expected).length;
    await this.stopRecorders();
    // Values stamped inside the window may still be queued for a publish.
    await sleep(SAMPLING_MS + PUBLISHING_MS + 1000, this.stop);

    return this.result({
      window: { from, to },
      counts: { start: countsStart, end: countsEnd },
      proc: { start: procStart, end: procEnd },
      db: { start: dbStart, end: dbEnd, seconds: (dbEndAt - dbStartAt) / 1000 },
      recorderExits,
    });
  }

  sampleMemory(parts, minute) {
    const plants = procStats.rssNow(parts.plants);
    const sample = {
      minute,
      opcsim: procStats.rssNow(parts.opcsim)[0],
      plantsSum: sum(plants),
      plantsMax: Math.max(0, ...plants),
      recorders: sum(procStats.rssNow(parts.recorders)),
    };
    this.memory.push(sample);
    say(`speed ${this.speed}: ${memoryNote(sample)}`);
  }

  result({ window, counts, proc, db, recorderExits }) {
    const usage = (name) => procStats.usage(proc.start, proc.end, name);
    const plantUsage = new Map(usage("plants").map((u) => [u.pid, u]));
    const plants = this.plants.map((p, i) => {
      const start = counts.start[i];
      const end = counts.end[i];
      const measurable = start.count !== null && end.count !== null && start.at !== null && end.at !== null;
      const share = measurable
        ? periodShare({ start, end, endAt: window.to, speed: this.speed, periodSeconds: p.plant.periodSeconds })
        : { ran: null, expected: null, share: null };
      const u = plantUsage.get(p.pid);
      return {
        group: p.plant.group,
        label: p.plant.label,
        registered: p.registered,
        exit: p.exit,
        exitText: p.describeExit(),
        gatewayTrouble: p.gatewayTrouble,
        ...share,
        cpuPercent: u ? u.cpuPercent : null,
        rssBytes: u ? u.rssBytes : 0,
      };
    });
    // Each session between its plant's two RunCount reads: the values of
    // exactly the periods counted in `ran`.
    const sessions = this.sessions.map((s, i) => {
      const periods = plants[i].ran;
      const from = counts.start[i].at;
      const to = counts.end[i].at;
      const windowMs = to - from;
      const measured = periods !== null;
      return {
        group: s.group,
        failure: s.failure,
        lost: s.lost,
        received: measured ? s.receivedBetween(from, to) : 0,
        expected: measured
          ? sum(s.samplingMs.map((samplingMs) => expectedNotifications({ periods, windowMs, samplingMs })))
          : null,
        badValues: s.badValues,
      };
    });
    const windowMs = window.to - window.from;
    const opcsim = usage("opcsim")[0] || { cpuPercent: 0, rssBytes: 0 };
    const opcsimStart = proc.start.procs.opcsim.get(this.context.opcsimPid);
    const plantList = [...plantUsage.values()];
    const recorders = usage("recorders");
    const postgres = usage("postgres");
    const bench = usage("bench")[0] || { cpuPercent: 0, rssBytes: 0 };
    return {
      speed: this.speed,
      windowSeconds: windowMs / 1000,
      designLatencyMs: SAMPLING_MS + PUBLISHING_MS,
      plants,
      sessions,
      latency: this.latency,
      opcsim: { cpuPercent: opcsim.cpuPercent, rssStart: opcsimStart ? opcsimStart.rssBytes : 0, rssEnd: opcsim.rssBytes },
      plantProcesses: {
        count: plantList.length,
        cpuSum: sum(plantList.map((u) => u.cpuPercent)),
        cpuMax: Math.max(0, ...plantList.map((u) => u.cpuPercent)),
        rssSum: sum(plantList.map((u) => u.rssBytes)),
        rssMax: Math.max(0, ...plantList.map((u) => u.rssBytes)),
      },
      recorders: {
        count: this.recorders.length,
        all: this.context.recordAll,
        cpuSum: sum(recorders.map((u) => u.cpuPercent)),
        rssSum: sum(recorders.map((u) => u.rssBytes)),
        exited: recorderExits,
        said: this.recorders.map((r) => r.output.trim().split("\n").slice(-1)[0] || "(nothing)"),
        tagsPerSecond: sum(this.sessions.map((s) => s.tagCount)) / (RECORD_PERIOD_MS / 1000),
      },
      postgres: { count: postgres.length, cpuSum: sum(postgres.map((u) => u.cpuPercent)) },
      bench,
      machine: procStats.machineUsage(proc.start, proc.end),
      database: db,
      memory: this.memory,
    };
  }

  async stopRecorders() {
    await Promise.all(this.recorders.map((r) => r.stop(STOP_MS)));
  }

  // Recorders first, then sessions, then plants: a plant gone first would
  // send every session a burst of bad values.
  async tearDown() {
    await this.stopRecorders();
    await Promise.all(this.sessions.map((s) => s.close()));
    await Promise.all(this.plants.map((p) => p.stop(STOP_MS)));
  }

  async run() {
    try {
      await this.startPlants();
      await this.openSessions();
      this.startRecorders();
      await this.warmUp();
      return await this.measure();
    } finally {
      await this.tearDown();
    }
  }
}

module.exports = { Phase, Interrupted, say, PHASE_OVERHEAD_MS };
