"use strict";
// Files holding secrets (passwords, the gateway token), read once at start.
// Anything but a regular file only its owner can read is refused: a
// secret others can read is no secret, and it is better to say so now than
// to run with it.

const fs = require("node:fs");
const { UsageError } = require("./options");

// what: how messages name the file ("users file"). Returns its text;
// throws UsageError naming the file.
function readPrivateFile(what, file) {
  let fd;
  try {
    // Non-blocking, so that a FIFO given by mistake cannot hang the start.
    fd = fs.openSync(file, fs.constants.O_RDONLY | fs.constants.O_NONBLOCK);
  } catch (err) {
    if (err.code === "ENOENT") throw new UsageError(`${what} ${file} does not exist`);
    throw new UsageError(`${what} ${file} cannot be opened: ${err.message}`);
  }
  try {
    // The checks look at the file that was opened, not at the name again.
    const stat = fs.fstatSync(fd);
    if (!stat.isFile()) throw new UsageError(`${what} ${file} is not a regular file`);
    const mode = stat.mode & 0o777;
    if (mode & 0o077) {
      const octal = mode.toString(8).padStart(4, "0");
      throw new UsageError(`${what} ${file} is open to group or others (mode ${octal}); chmod 600 ${file}`);
    }
    return fs.readFileSync(fd, "utf8");
  } catch (err) {
    if (err instanceof UsageError) throw err;
    throw new UsageError(`${what} ${file} cannot be read: ${err.message}`);
  } finally {
    fs.closeSync(fd);
  }
}

// The first line, without its line break or a CR before it, as varnok's C++
// programs read such a file; throws UsageError when it is empty or longer
// than maxLength. `what` names the kind of file; `expected` says what the
// line holds.
function readPrivateLine(what, file, expected, maxLength = 1024) {
  const line = readPrivateFile(what, file).split("\n")[0].replace(/\r$/, "");
  if (Buffer.byteLength(line, "utf8") > maxLength) {
    throw new UsageError(`${what} ${file}: the first line is longer than ${maxLength} characters (expected ${expected})`);
  }
  if (line === "") throw new UsageError(`${what} ${file}: the first line is empty (expected ${expected})`);
  return line;
}

module.exports = { readPrivateFile, readPrivateLine };
