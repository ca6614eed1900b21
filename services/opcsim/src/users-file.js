"use strict";
// The users who may write tags over OPC UA: a private file of `name:password`
// lines. Read once at start; any fault stops the start with file:line.

const crypto = require("node:crypto");
const { UsageError } = require("./options");
const { readPrivateFile } = require("./private-file");

const MAX_NAME_LENGTH = 128;
// node-opcua treats a user of this name as an anonymous session, which
// could never write.
const RESERVED_NAME = "anonymous";

// Returns Map name -> password. `file` only names the text in messages.
function parseUsers(text, file) {
  const users = new Map();
  const lineOf = new Map();
  const lines = text.split("\n");
  lines.forEach((raw, i) => {
    const line = raw.replace(/\r$/, "");
    const where = `${file}:${i + 1}`;
    if (/^\s*(#|$)/.test(line)) return;
    const colon = line.indexOf(":");
    if (colon < 0) throw new UsageError(`${where}: expected name:password, got a line without ":"`);
    const name = line.slice(0, colon);
    // Everything after the first colon, as written: a password may hold
    // colons and spaces.
    const password = line.slice(colon + 1);
    if (name === "") throw new UsageError(`${where}: empty user name`);
    if (!/^[^\s\p{C}:]+$/u.test(name)) throw new UsageError(`${where}: user name "${name}" contains whitespace or control characters`);
    if (name.length > MAX_NAME_LENGTH) throw new UsageError(`${where}: user name is longer than ${MAX_NAME_LENGTH} characters`);
    if (name === RESERVED_NAME) throw new UsageError(`${where}: "${RESERVED_NAME}" is the name of sessions without a user; choose another`);
    if (password === "") throw new UsageError(`${where}: user "${name}" has an empty password`);
    if (users.has(name)) throw new UsageError(`${where}: user "${name}" is already listed on line ${lineOf.get(name)}`);
    users.set(name, password);
    lineOf.set(name, i + 1);
  });
  if (users.size === 0) throw new UsageError(`${file} lists no user; nobody could write`);
  return users;
}

function loadUsers(file) {
  return parseUsers(readPrivateFile("users file", file), file);
}

const digest = (text) => crypto.createHash("sha256").update(text, "utf8").digest();

// Compares in constant time, so that the answer's timing tells nothing
// about how much of a guess was right.
function samePassword(a, b) {
  return crypto.timingSafeEqual(digest(a), digest(b));
}

module.exports = { parseUsers, loadUsers, samePassword };
