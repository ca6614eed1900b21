"use strict";
// gRPC face of the registry, built from proto/gateway.proto at run time so
// the C++ side and this server always read the same file.

const fs = require("node:fs");
const path = require("node:path");
const grpc = require("@grpc/grpc-js");
const protoLoader = require("@grpc/proto-loader");
const { GatewayError } = require("./registry");
const { tokenCheck } = require("./gateway-token");

const PROTO_PATH = path.resolve(__dirname, "..", "..", "..", "proto", "gateway.proto");
const SHUTDOWN_GRACE_MS = 500;

function loadGatewayService(protoPath = PROTO_PATH) {
  if (!fs.existsSync(protoPath)) throw new Error(`gateway protocol file ${protoPath} is missing`);
  const definition = protoLoader.loadSync(protoPath, {
    keepCase: true,
    longs: Number,
    enums: String,
    defaults: true,
    oneofs: true,
  });
  return grpc.loadPackageDefinition(definition).varnok.gateway.v1.Gateway;
}

// GatewayError becomes its status code, anything else INTERNAL with the
// message.
function toStatus(err) {
  if (err instanceof GatewayError) return { code: grpc.status[err.code], details: err.message };
  process.stderr.write(`opcsim: internal error: ${err.stack || err}\n`);
  return { code: grpc.status.INTERNAL, details: `opcsim internal error: ${err.message}` };
}

// Wraps a synchronous registry method as a unary handler. refuse(metadata):
// the status of a call that must not go on (no token), else undefined.
function unary(refuse, fn) {
  return (call, callback) => {
    const refusal = refuse(call.metadata);
    if (refusal) {
      callback(refusal);
      return;
    }
    try {
      callback(null, fn(call.request, call.getPeer()));
    } catch (err) {
      callback(toStatus(err));
    }
  };
}

// An Exchange stream: each message is handled whole, in arrival order,
// before the next, so a read sees every change sent before it. The first
// refusal ends the stream with its status; later messages are dropped. A
// stream refused by `refuse` ends before its first message.
function exchange(refuse, registry) {
  return (call) => {
    const refusal = refuse(call.metadata);
    if (refusal) {
      call.emit("error", refusal);
      return;
    }
    let open = true;
    call.on("data", (req) => {
      if (!open) return;
      try {
        const reply = registry.exchange(req);
        if (reply) call.write(reply);
      } catch (err) {
        open = false;
        call.emit("error", toStatus(err));
      }
    });
    call.on("end", () => {
      if (open) {
        open = false;
        call.end();
      }
    });
  };
}

function bind(server, address) {
  return new Promise((resolve, reject) => {
    server.bindAsync(address, grpc.ServerCredentials.createInsecure(), (err, port) => {
      if (err) reject(err);
      else resolve(port);
    });
  });
}

// addresses[0] must bind; the others (e.g. [::1]) are best effort. token:
// what every call must carry, or null for none.
async function startGateway({ registry, addresses, token = null }) {
  const service = loadGatewayService();
  const server = new grpc.Server();
  const refuse = token === null ? () => undefined : tokenCheck(token, grpc.status);
  server.addService(service.service, {
    Register: unary(refuse, (req, peer) => registry.register(req, peer)),
    Read: unary(refuse, (req) => registry.read(req)),
    Publish: unary(refuse, (req) => registry.publish(req)),
    Release: unary(refuse, (req) => registry.release(req)),
    Exchange: exchange(refuse, registry),
  });
  const [first, ...rest] = addresses;
  try {
    await bind(server, first);
  } catch (err) {
    server.forceShutdown();
    throw err;
  }
  for (const address of rest) {
    try {
      await bind(server, address);
    } catch (err) {
      if (/EADDRINUSE/.test(err.message)) {
        process.stderr.write(`opcsim: warning: ${address} is in use, gateway listens on ${first} only\n`);
      }
    }
  }
  return {
    close: () =>
      new Promise((resolve) => {
        const timer = setTimeout(() => {
          server.forceShutdown();
          resolve();
        }, SHUTDOWN_GRACE_MS);
        server.tryShutdown(() => {
          clearTimeout(timer);
          resolve();
        });
      }),
  };
}

module.exports = { startGateway, loadGatewayService, PROTO_PATH };
