"use strict";
// The gateway's shared secret: with a token file, every call must carry
// `authorization: Bearer <token>`; a call without it, or with another
// token, ends UNAUTHENTICATED before it reaches the registry.

const crypto = require("node:crypto");
const { UsageError } = require("./options");
const { readPrivateFile } = require("./private-file");

const HOW_TO_GIVE =
  "give metadata \"authorization: Bearer <token>\" with the token from opcsim's --gateway-token-file " +
  "(varnok programs read it from the file named by VARNOK_GATEWAY_TOKEN_FILE)";

// Metadata values are printable ASCII, and headers are kept small.
const MAX_TOKEN_LENGTH = 1024;

// The file's first line, trimmed; throws UsageError naming the file.
function loadGatewayToken(file) {
  // Blanks trimmed as varnok's C++ clients trim them, so both read one token.
  const token = readPrivateFile("gateway token file", file)
    .split("\n")[0]
    .replace(/^[ \t\r\v\f]+|[ \t\r\v\f]+$/g, "");
  if (token === "") throw new UsageError(`${file}:1: empty gateway token`);
  if (token.length > MAX_TOKEN_LENGTH) throw new UsageError(`${file}:1: gateway token longer than ${MAX_TOKEN_LENGTH} characters`);
  if (!/^[\x20-\x7e]+$/.test(token)) throw new UsageError(`${file}:1: gateway token holds characters other than printable ASCII`);
  return token;
}

const digest = (text) => crypto.createHash("sha256").update(text, "utf8").digest();

// Returns a function of a call's metadata: undefined when the call may
// proceed, else the gRPC status to end it with.
function tokenCheck(token, grpcStatus) {
  const expected = digest(token);
  return (metadata) => {
    const given = metadata.get("authorization");
    if (given.length === 0) {
      return { code: grpcStatus.UNAUTHENTICATED, details: `this gateway needs a token: ${HOW_TO_GIVE}` };
    }
    // The scheme is case-insensitive in HTTP.
    const bearer = given.length === 1 ? /^bearer +(.*)$/i.exec(String(given[0])) : null;
    // Compared in constant time, so that timing tells nothing about a guess.
    if (!bearer || !crypto.timingSafeEqual(digest(bearer[1]), expected)) {
      return { code: grpcStatus.UNAUTHENTICATED, details: `wrong gateway token: ${HOW_TO_GIVE}` };
    }
    return undefined;
  };
}

module.exports = { loadGatewayToken, tokenCheck };
