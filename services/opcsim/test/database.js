"use strict";
// A PostgreSQL cluster of the test file's own, made by scripts/services in a
// temporary state folder on a free port, with the recorder's tables.

const { execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { freePort } = require("./helpers");

const repo = path.resolve(__dirname, "..", "..", "..");
const PSQL = "/usr/lib/postgresql/15/bin/psql";

class TestDatabase {
  static async create() {
    const db = new TestDatabase();
    db.state = fs.mkdtempSync(path.join(os.tmpdir(), "opcsim-db-"));
    // The database server runs as the postgres user when we are root.
    fs.chmodSync(db.state, 0o755);
    db.port = await freePort();
    db.services("start");
    db.sql(fs.readFileSync(path.join(repo, "platform", "tsdbpy", "schema.sql"), "utf8"));
    return db;
  }

  services(action) {
    execFileSync(path.join(repo, "scripts", "services"), [action, "db"], {
      env: { ...process.env, VARNOK_STATE_DIR: this.state, VARNOK_DB_PORT: String(this.port) },
      timeout: 120000,
      stdio: ["ignore", "ignore", "pipe"],
    });
  }

  // Rows of the script's last query as arrays of text.
  sql(script) {
    const args = ["-X", "-q", "-tA", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p", String(this.port)];
    args.push("-U", "postgres", "-d", "tsdb_simulation", "-f", "-");
    const out = execFileSync(PSQL, args, {
      input: script,
      env: { ...process.env, PGPASSWORD: "plok9876", PGCONNECT_TIMEOUT: "10" },
      encoding: "utf8",
      timeout: 30000,
    }).trim();
    return out === "" ? [] : out.split("\n").map((line) => line.split("\t"));
  }

  dispose() {
    try {
      this.services("stop");
    } finally {
      fs.rmSync(this.state, { recursive: true, force: true });
    }
  }
}

module.exports = { TestDatabase };
