"use strict";
// The recorder's database as the benchmark sees it: how big the values
// table is and how many rows it holds. psql reads where and as whom from
// the PG* variables classroom.sh sets from scripts/services.

const { execFile } = require("node:child_process");
const { promisify } = require("node:util");

const execFileAsync = promisify(execFile);
const PSQL = "/usr/lib/postgresql/15/bin/psql";
const QUERY_TIMEOUT_MS = 120000;

// Rows of one query as arrays of text.
async function query(sql) {
  const args = ["-X", "-tA", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-c", sql];
  const { stdout } = await execFileAsync(PSQL, args, {
    timeout: QUERY_TIMEOUT_MS,
    env: { ...process.env, PGCONNECT_TIMEOUT: "10" },
  });
  const out = stdout.trim();
  return out === "" ? [] : out.split("\n").map((line) => line.split("\t"));
}

// { tsdataBytes, databaseBytes, rows }: tsdata with all its partitions and
// indexes (0 and 0 rows before a recorder made it), and the whole database.
async function databaseSize() {
  const [[exists, tsdataBytes, databaseBytes]] = await query(
    `SELECT to_regclass('tsdata') IS NOT NULL,
            coalesce((SELECT sum(pg_total_relation_size(relid)) FROM pg_partition_tree(to_regclass('tsdata'))), 0),
            pg_database_size(current_database())`,
  );
  const rows = exists === "t" ? Number((await query("SELECT count(*) FROM tsdata"))[0][0]) : 0;
  return { tsdataBytes: Number(tsdataBytes), databaseBytes: Number(databaseBytes), rows };
}

module.exports = { databaseSize };
