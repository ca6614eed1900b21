"use strict";
// Where paused history reads wait for the client's next call: a few per
// session, opaque random keys, the oldest given up when a new one is needed.

const crypto = require("node:crypto");

const MAX_PER_SESSION = 10;

class ContinuationPoints {
  constructor(maxPerSession = MAX_PER_SESSION) {
    this.maxPerSession = maxPerSession;
    this.bySession = new WeakMap(); // session -> Map(key hex -> state), oldest first
  }

  _of(session) {
    let points = this.bySession.get(session);
    if (!points) {
      points = new Map();
      this.bySession.set(session, points);
    }
    return points;
  }

  // Returns the key (a Buffer) under which `state` waits.
  add(session, state) {
    const points = this._of(session);
    while (points.size >= this.maxPerSession) points.delete(points.keys().next().value);
    const key = crypto.randomBytes(16);
    points.set(key.toString("hex"), state);
    return key;
  }

  // The state under `key`; undefined when unknown or released.
  get(session, key) {
    const points = this.bySession.get(session);
    if (!points || !key || key.length === 0) return undefined;
    return points.get(Buffer.from(key).toString("hex"));
  }

  release(session, key) {
    const points = this.bySession.get(session);
    if (points) points.delete(Buffer.from(key).toString("hex"));
  }

  forget(session) {
    this.bySession.delete(session);
  }
}

module.exports = { ContinuationPoints, MAX_PER_SESSION };
