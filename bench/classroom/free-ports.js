"use strict";
// Prints N distinct ports the kernel hands out on 127.0.0.1 now (default 3),
// one per line: all listeners are open at once, so no two are the same.

const net = require("node:net");

const count = Number(process.argv[2] || 3);
const listen = () =>
  new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once("error", reject);
    server.listen({ host: "127.0.0.1", port: 0 }, () => resolve(server));
  });

Promise.all(Array.from({ length: count }, listen)).then(
  async (servers) => {
    console.log(servers.map((s) => s.address().port).join("\n"));
    await Promise.all(servers.map((s) => new Promise((r) => s.close(r))));
  },
  (err) => {
    process.stderr.write(`free-ports: ${err.message}\n`);
    process.exit(1);
  },
);
