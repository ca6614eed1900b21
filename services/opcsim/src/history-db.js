"use strict";
// The recorder's database as a source of past values: a small pool, every
// query bounded in time, parameterised SQL only. Connections are made per
// query as needed, so reads work again as soon as the database is back.

const { Pool } = require("pg");

const CONNECT_TIMEOUT_MS = 3000;
const STATEMENT_TIMEOUT_MS = 5000;
// A little above the statement time-out so that the server's own error wins
// when the server is alive.
const QUERY_TIMEOUT_MS = STATEMENT_TIMEOUT_MS + 1000;
const RETRY_MS = 5000;
const POOL_SIZE = 3;

// Time stamps travel as integer microseconds since 1970 (the column's
// precision); integers keep them exact in both directions.
const EPOCH_US = "(extract(epoch FROM d.ts) * 1000000)::int8";
const AT_US = (param) => `('epoch'::timestamptz + ${param}::int8 * interval '1 microsecond')`;

// Rows of one tag in [fromUs, toUs] after the cursor (us, row), ordered by
// time, then by row; "row" (ctid) breaks ties between equal time stamps.
function rawQuery(reverse) {
  const cmp = reverse ? "<" : ">";
  const order = reverse ? "DESC" : "ASC";
  return `SELECT ${EPOCH_US} AS us, d.value, d.ctid::text AS row
    FROM tsdata d JOIN tags t USING (tag_id)
   WHERE t.tag_name = $1
     AND d.ts BETWEEN ${AT_US("$2")} AND ${AT_US("$3")}
     AND ($4::int8 IS NULL OR (d.ts, d.ctid) ${cmp} (${AT_US("$4")}, $5::tid))
   ORDER BY d.ts ${order}, d.ctid ${order}
   LIMIT $6`;
}
const RAW_FORWARD = rawQuery(false);
const RAW_REVERSE = rawQuery(true);

class HistoryUnavailable extends Error {}

// SQLSTATE classes and codes meaning the database cannot be reached or has
// gone, as opposed to a fault in the query.
function isConnectionProblem(err) {
  if (err instanceof HistoryUnavailable) return true;
  if (err.code === "57014") return false; // our statement time-out: the server answered
  if (typeof err.code === "string" && /^(08|57P0|53)/.test(err.code)) return true;
  if (typeof err.code === "string" && /^E[A-Z]+$/.test(err.code)) return true; // ECONNREFUSED, ETIMEDOUT, ...
  return /timeout|terminated|Connection/i.test(err.message || "");
}

class HistoryDatabase {
  // settings: { host, port, database, user, password }; log(line).
  constructor(settings, log) {
    this.settings = settings;
    this.log = log;
    this.pool = new Pool({
      host: settings.host,
      port: settings.port,
      database: settings.database,
      user: settings.user,
      password: settings.password,
      max: POOL_SIZE,
      connectionTimeoutMillis: CONNECT_TIMEOUT_MS,
      statement_timeout: STATEMENT_TIMEOUT_MS,
      query_timeout: QUERY_TIMEOUT_MS,
      idleTimeoutMillis: 30000,
      keepAlive: true,
      application_name: "opcsim",
    });
    // An idle connection the server dropped: the pool discards it and the
    // next query opens another. Without a listener it would end the process.
    this.pool.on("error", () => this._lost());
    this.reachable = undefined; // unknown until the first probe
    this.retry = null;
    this.closed = false;
  }

  get where() {
    const { host, port, database } = this.settings;
    return `${host.includes(":") ? `[${host}]` : host}:${port}/${database}`;
  }

  // Probes now and, while unreachable, every few seconds; never throws.
  async start() {
    await this._probe();
  }

  async _probe() {
    this.retry = null;
    if (this.closed) return;
    try {
      await this.pool.query("SELECT 1");
      this._found();
    } catch (err) {
      this._lost(err);
    }
  }

  _found() {
    if (this.reachable !== true) this.log(`history from the database at ${this.where}`);
    this.reachable = true;
  }

  _lost(err) {
    if (this.reachable !== false) {
      const why = err ? `: ${err.message}` : "";
      this.log(`history database at ${this.where} is not reachable${why}; trying again every ${RETRY_MS / 1000} s`);
    }
    this.reachable = false;
    if (!this.retry && !this.closed) {
      this.retry = setTimeout(() => this._probe(), RETRY_MS);
      this.retry.unref();
    }
  }

  // Up to `limit` rows { us, value, row } of one tag, oldest first (newest
  // first when `reverse`), in [fromUs, toUs] and strictly beyond `after`
  // ({ us, row } of the last row returned before, or null).
  async readRaw({ tagName, fromUs, toUs, reverse, after, limit }) {
    if (this.closed) throw new HistoryUnavailable("opcsim is stopping");
    const params = [tagName, fromUs, toUs, after ? after.us : null, after ? after.row : null, limit];
    let result;
    try {
      result = await this.pool.query(reverse ? RAW_REVERSE : RAW_FORWARD, params);
    } catch (err) {
      // Nothing recorded yet: the recorder creates the tables on first use.
      if (err.code === "42P01") return [];
      if (isConnectionProblem(err)) this._lost(err);
      throw err;
    }
    this._found();
    return result.rows.map((r) => ({ us: Number(r.us), value: r.value, row: r.row }));
  }

  async close() {
    this.closed = true;
    if (this.retry) clearTimeout(this.retry);
    this.retry = null;
    await this.pool.end().catch(() => {});
  }
}

module.exports = { HistoryDatabase, HistoryUnavailable, isConnectionProblem, STATEMENT_TIMEOUT_MS };
