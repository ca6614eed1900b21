"use strict";
// A built program as a child process: the tail of its output, how it ended,
// and a bounded stop.

const { spawn } = require("node:child_process");

const OUTPUT_KEPT = 4000;

class Program {
  // onSpawn(pid) is told every process started, so that the shell script can
  // end them should this process die first.
  constructor(file, args, { onSpawn }) {
    this.output = "";
    this.exit = null; // { code, signal, expected } once it ended
    this.stopping = false;
    this.child = spawn(file, args, { stdio: ["ignore", "pipe", "pipe"] });
    if (this.child.pid !== undefined) onSpawn(this.child.pid);
    const take = (text) => {
      this.output = (this.output + text).slice(-OUTPUT_KEPT);
      this.heard(text);
    };
    this.child.stdout.setEncoding("utf8").on("data", take);
    this.child.stderr.setEncoding("utf8").on("data", take);
    this.exited = new Promise((resolve) => {
      const settle = (code, signal) => {
        if (this.exit) return;
        this.exit = { code, signal, expected: this.stopping };
        resolve(this.exit);
      };
      this.child.once("close", settle);
      // A program that could not be started at all emits no close.
      this.child.once("error", (err) => {
        take(`${err.message}\n`);
        settle(null, null);
      });
    });
  }

  // Each chunk of output as it comes, after it was added to `output`; for
  // subclasses. Never called before the constructor returned.
  heard() {}

  get pid() {
    return this.child.pid;
  }

  running() {
    return this.exit === null;
  }

  // SIGTERM, then SIGKILL when it has not ended within limitMs.
  async stop(limitMs) {
    if (!this.running()) return this.exit;
    this.stopping = true;
    this.child.kill("SIGTERM");
    const timer = setTimeout(() => this.child.kill("SIGKILL"), limitMs);
    const exit = await this.exited;
    clearTimeout(timer);
    return exit;
  }

  // How it ended and its last line, for the report.
  describeExit() {
    if (!this.exit) return "running";
    const how = this.exit.signal ? `killed by ${this.exit.signal}` : `exit ${this.exit.code}`;
    const last = this.output.trim().split("\n").slice(-1)[0] || "(no output)";
    return `${how}: ${last}`;
  }
}

module.exports = { Program };
