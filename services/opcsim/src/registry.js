"use strict";
// Who serves which tag group, and for how long. The values themselves live
// in the OPC UA address space (the `store`), so a value an OPC UA client
// writes and a value a task publishes land in the same place and neither
// can overwrite the other's tag behind its back.

const crypto = require("node:crypto");
const { LEASE_MIN_MS, LEASE_MAX_MS } = require("./options");

const MAX_GROUP_LENGTH = 64;
const MAX_TAG_LENGTH = 128;
const MAX_TAGS = 10000;
const MAX_CLIENT_LENGTH = 200;
// Room for a sentence or two on an HMI, and for any unit symbol.
const MAX_DESCRIPTION_LENGTH = 1000;
const MAX_UNIT_LENGTH = 64;
const SWEEP_INTERVAL_MS = 50;

class GatewayError extends Error {
  // code: "INVALID_ARGUMENT" | "NOT_FOUND" | "ALREADY_EXISTS"
  constructor(code, message) {
    super(message);
    this.code = code;
  }
}

const invalid = (message) => new GatewayError("INVALID_ARGUMENT", message);

// Letters, digits, punctuation; no whitespace or control characters, since
// names end up in node ids, logs and the models' configuration files.
const PRINTABLE = /^[^\s\p{C}]+$/u;

function checkGroup(group) {
  if (typeof group !== "string" || group === "") throw invalid("group name is empty");
  if (group.length > MAX_GROUP_LENGTH) throw invalid(`group name is longer than ${MAX_GROUP_LENGTH} characters`);
  if (!PRINTABLE.test(group)) throw invalid(`group name "${group}" contains whitespace or control characters`);
  // The dot separates group and tag in ns=2;s=<group>.<tag>.
  if (group.includes(".")) throw invalid(`group name "${group}" contains "."`);
}

function checkTagName(group, name) {
  if (typeof name !== "string" || name === "") throw invalid(`group "${group}": empty tag name`);
  if (name.length > MAX_TAG_LENGTH) {
    throw invalid(`group "${group}": tag name "${name.slice(0, 20)}..." is longer than ${MAX_TAG_LENGTH} characters`);
  }
  if (!PRINTABLE.test(name)) throw invalid(`group "${group}": tag name "${name}" contains whitespace or control characters`);
}

function checkValue(group, tag) {
  if (typeof tag.value !== "number") throw invalid(`group "${group}": tag "${tag.name}" has no numeric value`);
}

function describeClient(client, peer) {
  const text = typeof client === "string" ? client.replace(/\p{C}/gu, "?").trim() : "";
  if (text === "") return `unnamed client at ${peer || "unknown address"}`;
  return text.length > MAX_CLIENT_LENGTH ? `${text.slice(0, MAX_CLIENT_LENGTH)}...` : text;
}

// A session id as shown in messages: ids are 32 hex digits, so anything
// longer is junk and is cut. Also for names in info, which may be anything.
const shown = (id) => (typeof id === "string" && id.length > 40 ? `${id.slice(0, 40)}...` : id);

// Texts from plant files may hold line breaks or tabs (YAML block scalars
// end in one); an HMI shows one line, so every run of control characters
// becomes a space.
const oneLine = (text) => (typeof text === "string" ? text.replace(/\p{Cc}+/gu, " ").trim() : "");

// Length in characters, as the plant's author counts them.
const longerThan = (text, limit) => text.length > limit && [...text].length > limit;

// The checked info of a register request: tag -> { description, unit,
// range: { low, high } or null }, only for tags with any. Throws on info
// for a tag outside the group, info listed twice, texts too long, a range
// that is NaN or upside down.
function checkInfo(group, info, nameSet) {
  const checked = new Map();
  const seen = new Set();
  for (const item of info || []) {
    const tag = item.name;
    if (!nameSet.has(tag)) throw invalid(`group "${group}" has no tag "${shown(tag)}" (named in info)`);
    if (seen.has(tag)) throw invalid(`group "${group}": info for tag "${tag}" is listed twice`);
    seen.add(tag);
    const description = oneLine(item.description);
    if (longerThan(description, MAX_DESCRIPTION_LENGTH)) {
      throw invalid(`group "${group}": description of tag "${tag}" is longer than ${MAX_DESCRIPTION_LENGTH} characters`);
    }
    const unit = oneLine(item.unit);
    if (longerThan(unit, MAX_UNIT_LENGTH)) {
      throw invalid(`group "${group}": unit of tag "${tag}" is longer than ${MAX_UNIT_LENGTH} characters`);
    }
    let range = null;
    if (item.range) {
      const { low, high } = item.range;
      if (typeof low !== "number" || typeof high !== "number" || Number.isNaN(low) || Number.isNaN(high)) {
        throw invalid(`group "${group}": range of tag "${tag}" is not a number (low ${low}, high ${high})`);
      }
      if (low > high) throw invalid(`group "${group}": range of tag "${tag}" has low ${low} above high ${high}`);
      range = { low, high };
    }
    if (description !== "" || unit !== "" || range) checked.set(tag, { description, unit, range });
  }
  return checked;
}

class Registry {
  // store: { ensureGroup(group, names, info), writeRegistered(group, tags, { resume }),
  //          write(group, tags),
  //          read(group, names), writeAt(group, indexes, values),
  //          readAll(group), markUnserved(group) }
  //   info: the Map checkInfo returns; a tag not in it shows no info
  // log: one line per call, no trailing newline
  constructor({ store, defaultLeaseMs, log = () => {}, now = Date.now }) {
    this.store = store;
    this.defaultLeaseMs = defaultLeaseMs;
    this.log = log;
    this.now = now;
    this.byGroup = new Map(); // group -> session record
    this.bySession = new Map(); // session id -> session record
    this.timer = null;
  }

  start() {
    if (this.timer) return;
    this.timer = setInterval(() => this.sweep(), SWEEP_INTERVAL_MS);
  }

  stop() {
    if (this.timer) clearInterval(this.timer);
    this.timer = null;
  }

  register(req, peer) {
    const group = req.group;
    checkGroup(group);
    const tags = req.tags || [];
    if (tags.length === 0) throw invalid(`group "${group}": no tags`);
    if (tags.length > MAX_TAGS) throw invalid(`group "${group}": ${tags.length} tags, at most ${MAX_TAGS} allowed`);
    const seen = new Set();
    for (const tag of tags) {
      checkTagName(group, tag.name);
      checkValue(group, tag);
      if (seen.has(tag.name)) throw invalid(`group "${group}": tag "${tag.name}" is listed twice`);
      seen.add(tag.name);
    }
    const info = checkInfo(group, req.info, seen);
    let leaseMs = req.lease_ms || this.defaultLeaseMs;
    if (leaseMs < LEASE_MIN_MS || leaseMs > LEASE_MAX_MS) {
      throw invalid(`lease_ms ${leaseMs} is out of range ${LEASE_MIN_MS}..${LEASE_MAX_MS} (0 = server default)`);
    }
    const client = describeClient(req.client, peer);

    const holder = this.byGroup.get(group);
    if (holder && !this._expireIfDue(holder)) {
      throw new GatewayError(
        "ALREADY_EXISTS",
        `group "${group}" is served by another task (client "${holder.client}"), try again when it stops`,
      );
    }

    const names = tags.map((t) => t.name);
    this.store.ensureGroup(group, names, info);
    this.store.writeRegistered(group, tags, { resume: Boolean(req.resume) });

    const record = {
      id: crypto.randomBytes(16).toString("hex"),
      group,
      names,
      nameSet: seen,
      client,
      leaseMs,
      expiresAt: this.now() + leaseMs,
    };
    this.byGroup.set(group, record);
    this.bySession.set(record.id, record);
    this.log(`group "${group}" registered by ${client} (${names.length} tags)`);
    return { session: record.id, lease_ms: leaseMs };
  }

  read(req) {
    const record = this._session(req);
    return { tags: this.store.read(record.group, record.names) };
  }

  publish(req) {
    const record = this._session(req);
    const tags = req.tags || [];
    // Check everything first: a bad publish sets nothing.
    const seen = new Set();
    for (const tag of tags) {
      if (!record.nameSet.has(tag.name)) {
        throw invalid(`group "${record.group}" has no tag "${tag.name}"`);
      }
      if (seen.has(tag.name)) throw invalid(`group "${record.group}": tag "${tag.name}" is published twice`);
      seen.add(tag.name);
      checkValue(record.group, tag);
    }
    if (tags.length > 0) this.store.write(record.group, tags);
    return {};
  }

  // One message of an Exchange stream: its changes, all checked before any
  // is set, then the group's values if it asks for them (else null).
  exchange(req) {
    const record = this._session(req);
    const indexes = req.changed_index || [];
    const values = req.changed_value || [];
    if (indexes.length !== values.length) {
      throw invalid(`group "${record.group}": ${indexes.length} changed tags but ${values.length} values`);
    }
    if (indexes.length > 0) {
      const count = record.names.length;
      const seen = new Uint8Array(count);
      for (let i = 0; i < indexes.length; i++) {
        const at = indexes[i];
        if (!(at < count)) throw invalid(`group "${record.group}" has no tag at place ${at} (it has ${count})`);
        if (seen[at]) throw invalid(`group "${record.group}": tag "${record.names[at]}" is published twice`);
        seen[at] = 1;
        if (typeof values[i] !== "number") {
          throw invalid(`group "${record.group}": tag "${record.names[at]}" has no numeric value`);
        }
      }
      this.store.writeAt(record.group, indexes, values);
    }
    return req.read ? { values: this.store.readAll(record.group) } : null;
  }

  release(req) {
    const record = this._session(req);
    this._drop(record, "stopped");
    return {};
  }

  // Frees every group whose lease ran out; called by the timer.
  sweep() {
    for (const record of [...this.byGroup.values()]) this._expireIfDue(record);
  }

  // Releases all groups without logging or marking them one by one (server
  // shutdown).
  clear() {
    this.byGroup.clear();
    this.bySession.clear();
  }

  get size() {
    return this.byGroup.size;
  }

  _expireIfDue(record) {
    if (this.now() < record.expiresAt) return false;
    this._drop(record, "lease expired");
    return true;
  }

  _drop(record, why) {
    if (this.bySession.get(record.id) !== record) return;
    this.bySession.delete(record.id);
    this.byGroup.delete(record.group);
    this.store.markUnserved(record.group);
    this.log(`group "${record.group}" released (${why})`);
  }

  // Looks up the caller's session and renews its lease.
  _session(req) {
    checkGroup(req.group);
    const record = typeof req.session === "string" ? this.bySession.get(req.session) : undefined;
    // A lease may have run out since the last sweep: the caller must not
    // slip in between.
    if (!record || this._expireIfDue(record)) {
      throw new GatewayError("NOT_FOUND", `no live session "${shown(req.session)}" for group "${req.group}", register again`);
    }
    if (record.group !== req.group) {
      throw new GatewayError("NOT_FOUND", `session "${shown(req.session)}" does not serve group "${req.group}", register again`);
    }
    record.expiresAt = this.now() + record.leaseMs;
    return record;
  }
}

module.exports = { Registry, GatewayError, MAX_GROUP_LENGTH, MAX_TAG_LENGTH, MAX_TAGS };
