"use strict";
// How many OPC UA clients opcsim serves at once, and the log line that says
// when one was turned away for it.

const fs = require("node:fs");
const { StatusCodes } = require("node-opcua-status-code");

const REPORT_INTERVAL_MS = 10000;
const HOW_TO_RAISE = "raise the limit with --max-sessions or VARNOK_OPCSIM_MAX_SESSIONS";

// Connections a client holds without a session (asking for the endpoints,
// a reconnecting client's new channel while its old one is still open):
// with this headroom a client at the limit is refused by the session limit,
// which tells it why, rather than by a dropped connection, which does not.
function connectionLimit(maxSessions) {
  return maxSessions + Math.max(10, Math.ceil(maxSessions / 10));
}

// A session's connection takes one descriptor, three when it comes through
// the [::1] relay; the rest is the process's own (listeners, database,
// certificates).
const FILES_PER_SESSION = 3;
const FILES_BESIDES_SESSIONS = 100;

// The open-file limit (node raises its soft limit to the hard one at
// start), or null where it cannot be read.
function openFileLimit() {
  try {
    const match = /^Max open files\s+(\d+)/m.exec(fs.readFileSync("/proc/self/limits", "utf8"));
    return match ? Number(match[1]) : null;
  } catch {
    return null;
  }
}

// A warning line when `limit` open files may not be enough for
// `maxSessions` sessions, else null.
function fileLimitWarning(maxSessions, limit) {
  const needed = maxSessions * FILES_PER_SESSION + FILES_BESIDES_SESSIONS;
  if (limit === null || limit >= needed) return null;
  return `warning: the open-file limit ${limit} is below the ${needed} that ${maxSessions} OPC UA sessions may need; raise it (ulimit -Hn) or lower --max-sessions`;
}

// At most one line per interval, however many clients knock; the line says
// how many were refused since the last one.
class RefusalReport {
  constructor({ log, intervalMs = REPORT_INTERVAL_MS, now = Date.now }) {
    this.log = log;
    this.intervalMs = intervalMs;
    this.now = now;
    this.lastAt = null;
    this.unreported = 0;
  }

  refused(what) {
    this.unreported++;
    const t = this.now();
    if (this.lastAt !== null && t - this.lastAt < this.intervalMs) return;
    const count = this.unreported === 1 ? "" : ` (${this.unreported} refused since the last report)`;
    this.log(`${what}; ${HOW_TO_RAISE}${count}`);
    this.lastAt = t;
    this.unreported = 0;
  }
}

// Reports the clients `server` (an OPCUAServer) turns away: CreateSession
// answered BadTooManySessions, or a connection dropped at the connection
// limit.
function reportRefusals(server, { maxSessions, maxConnections, log }) {
  const report = new RefusalReport({ log });
  const tooMany = StatusCodes.BadTooManySessions.value;
  server.on("response", (response) => {
    if (response.responseHeader?.serviceResult?.value === tooMany) {
      report.refused(`OPC UA session refused (BadTooManySessions): all ${maxSessions} sessions are in use`);
    }
  });
  server.on("connectionRefused", () => {
    report.refused(`OPC UA connection refused: all ${maxConnections} connections are in use`);
  });
}

module.exports = { connectionLimit, RefusalReport, reportRefusals, openFileLimit, fileLimitWarning, REPORT_INTERVAL_MS };
