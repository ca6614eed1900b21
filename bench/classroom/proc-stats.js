"use strict";
// CPU time and resident memory of processes and of the machine, from /proc:
// what a phase costs each part of the system.

const fs = require("node:fs");
const { execFileSync } = require("node:child_process");

const getconf = (name) => Number(execFileSync("getconf", [name], { encoding: "utf8", timeout: 5000 }).trim());
const TICKS_PER_SECOND = getconf("CLK_TCK");
const PAGE_BYTES = getconf("PAGESIZE");

// The fields of /proc/PID/stat we use. The command name sits in parentheses
// and may itself hold spaces and parentheses, so fields are counted from the
// last ')'.
function parseStat(text) {
  const fields = text.slice(text.lastIndexOf(")") + 2).split(" ");
  // fields[0] is the stat file's field 3 (state)
  return {
    ppid: Number(fields[1]),
    ticks: Number(fields[11]) + Number(fields[12]), // utime + stime
    started: Number(fields[19]), // tells a reused pid from the process we meant
    rssBytes: Number(fields[21]) * PAGE_BYTES,
  };
}

// Busy and total ticks of all CPUs from /proc/stat's first line (guest time
// is already inside user time).
function parseMachine(text) {
  const [, ...values] = text.split("\n")[0].trim().split(/\s+/);
  const [user, nice, system, idle, iowait, irq, softirq, steal] = values.map(Number);
  const total = user + nice + system + idle + iowait + irq + softirq + steal;
  return { busy: total - idle - iowait, total };
}

function readStat(pid) {
  try {
    return parseStat(fs.readFileSync(`/proc/${pid}/stat`, "utf8"));
  } catch {
    return null; // gone
  }
}

// pid -> parsed stat of every process now.
function allProcesses() {
  const table = new Map();
  for (const name of fs.readdirSync("/proc")) {
    if (!/^\d+$/.test(name)) continue;
    const stat = readStat(name);
    if (stat) table.set(Number(name), stat);
  }
  return table;
}

// The process and all its descendants, from a table of allProcesses().
function familyOf(root, table) {
  const family = new Set([root]);
  for (let grew = true; grew; ) {
    grew = false;
    for (const [pid, stat] of table) {
      if (!family.has(pid) && family.has(stat.ppid)) {
        family.add(pid);
        grew = true;
      }
    }
  }
  return [...family].filter((pid) => table.has(pid));
}

// A snapshot of the given processes (name -> list of pids) and the machine;
// `uptime` in clock ticks since boot, the unit of a process's start time.
function snapshot(parts) {
  const at = Date.now();
  const uptime = Number(fs.readFileSync("/proc/uptime", "utf8").split(" ")[0]) * TICKS_PER_SECOND;
  const machine = parseMachine(fs.readFileSync("/proc/stat", "utf8"));
  const procs = {};
  for (const [name, pids] of Object.entries(parts)) {
    procs[name] = new Map();
    for (const pid of pids) {
      const stat = readStat(pid);
      if (stat) procs[name].set(pid, stat);
    }
  }
  return { at, uptime, machine, procs };
}

// Per pid of part `name` in the second snapshot: percent of one core between
// the two, and its resident memory at the second. A process started in
// between spent all its CPU time in the window; one that ended in between is
// left out, its time after the first snapshot being unknown.
function usage(before, after, name) {
  const seconds = (after.at - before.at) / 1000;
  const out = [];
  for (const [pid, end] of after.procs[name] || []) {
    const start = before.procs[name]?.get(pid);
    let ticks = null;
    if (start && start.started === end.started) ticks = end.ticks - start.ticks;
    else if (end.started >= before.uptime) ticks = end.ticks;
    if (ticks === null) continue;
    out.push({ pid, cpuPercent: (ticks / TICKS_PER_SECOND / seconds) * 100, rssBytes: end.rssBytes });
  }
  return out;
}

// The whole machine between two snapshots, in percent of one core, and the
// number of cores.
function machineUsage(before, after) {
  const busy = after.machine.busy - before.machine.busy;
  const total = after.machine.total - before.machine.total;
  const cores = fs.readFileSync("/proc/stat", "utf8").split("\n").filter((l) => /^cpu\d+ /.test(l)).length;
  return { cpuPercent: total > 0 ? (busy / total) * 100 * cores : 0, cores };
}

// Resident memory of each pid now, in bytes (0 for one that is gone).
function rssNow(pids) {
  return pids.map((pid) => readStat(pid)?.rssBytes ?? 0);
}

module.exports = { parseStat, parseMachine, allProcesses, familyOf, snapshot, usage, machineUsage, rssNow };
