"use strict";
// The process as the services script sees it: options, exit codes, signals.

const { test, after } = require("node:test");
const assert = require("node:assert/strict");
const net = require("node:net");
const os = require("node:os");
const { run, startOpcsim, gatewayClient, opcuaSession, freePort, tempDir, privateFile } = require("./helpers");
const { probePort } = require("../src/main");

const children = [];
after(() => children.forEach((c) => c.kill()));
const track = (c) => (children.push(c), c);

test("bad options give a one-line error and exit 2; --help exits 0", async () => {
  const cases = [
    ["--opcua-port", "http"],
    ["--gateway-port", "70000"],
    ["--lease-ms", "10"],
    ["--opcua-port", "4000", "--gateway-port", "4000"],
    ["--state-dir"],
    ["--db-port", "0"],
    ["--db-host", ""],
    ["--no-history=yes"],
    ["--bogus"],
  ];
  await Promise.all(
    cases.map(async (args) => {
      const p = track(run(args));
      const { code } = await p.exited;
      assert.equal(code, 2, `${args.join(" ")}: exit ${code}`);
      assert.match(p.stderr, /^opcsim: [^\n]+\n$/, `${args.join(" ")}: ${p.stderr}`);
    }),
  );
  // The database password's variables, read as the C++ programs read them.
  const envCases = [
    [{ VARNOK_DB_PASSWORD: "a", VARNOK_DB_PASSWORD_FILE: privateFile("pw", "b\n") }, /both set/],
    [{ VARNOK_DB_PASSWORD_FILE: privateFile("open", "b\n", 0o644) }, /open to group or others/],
    [{ VARNOK_DB_PASSWORD_FILE: privateFile("blank", "\r\nb\n") }, /: the first line is empty \(expected the database password\)/],
  ];
  for (const [env, says] of envCases) {
    const p = track(run([], env));
    assert.equal((await p.exited).code, 2, JSON.stringify(env));
    assert.match(p.stderr, says);
  }
  const help = track(run(["--help"]));
  assert.equal((await help.exited).code, 0);
  assert.match(help.stdout, /--gateway-port/);
});

test("a port in use makes start-up fail with exit 1 naming that port", async () => {
  const blocker = net.createServer();
  await new Promise((r) => blocker.listen({ host: "127.0.0.1", port: 0 }, r));
  const busy = blocker.address().port;
  try {
    for (const [option, what] of [
      ["--opcua-port", "OPC UA"],
      ["--gateway-port", "gateway"],
    ]) {
      const other = await freePort();
      const otherOption = option === "--opcua-port" ? "--gateway-port" : "--opcua-port";
      const p = track(run([option, String(busy), otherOption, String(other), "--state-dir", tempDir()]));
      const { code } = await p.exited;
      assert.equal(code, 1);
      assert.equal(p.stderr, `opcsim: ${what} port ${busy} on 127.0.0.1 is already in use\n`);
      assert.equal(await probePort("127.0.0.1", other), undefined, `port ${other} was left bound`);
    }
  } finally {
    blocker.close();
  }
});

test("SIGTERM and SIGINT stop the server promptly with exit 0, even with clients connected", async () => {
  await Promise.all(
    ["SIGTERM", "SIGINT"].map(async (signal) => {
      const sim = track(await startOpcsim());
      const gw = gatewayClient(`127.0.0.1:${sim.gatewayPort}`);
      const ua = await opcuaSession(sim.endpoint);
      try {
        await gw.register({ group: "G", tags: [{ name: "t", value: 1 }] });
        const t0 = Date.now();
        sim.child.kill(signal);
        const { code } = await sim.exited;
        const ms = Date.now() - t0;
        assert.equal(code, 0, `${signal}: exit ${code}; ${sim.stderr}`);
        assert.ok(ms < 8000, `${signal}: took ${ms} ms`); // a hang, not a speed check
        for (const port of [sim.opcuaPort, sim.gatewayPort]) {
          assert.equal(await probePort("127.0.0.1", port), undefined, `${signal}: port ${port} still bound`);
        }
      } finally {
        gw.close();
        await ua.close().catch(() => {});
      }
    }),
  );
});

// An address of this machine other hosts may reach, if it has one.
function outsideAddress() {
  for (const addresses of Object.values(os.networkInterfaces())) {
    for (const a of addresses || []) if (a.family === "IPv4" && !a.internal) return a.address;
  }
  return null;
}

test("beyond loopback both listeners answer on the machine's address, the endpoint names the advertised host, and a warning says who can write", async (t) => {
  const address = outsideAddress();
  if (!address) return t.skip("no non-loopback IPv4 address");
  const cases = [
    {
      args: ["--host", "0.0.0.0", "--advertise-host", "trainer.example"],
      advertised: "trainer.example",
      warning: "anyone who can reach 0.0.0.0:OPCUA (OPC UA) or 0.0.0.0:GATEWAY (gateway) can write tags; give --users-file and --gateway-token-file",
    },
    {
      args: ["--host", address, "--users-file", privateFile("users", "u:p\n")],
      advertised: address,
      warning: `anyone who can reach ${address}:GATEWAY (gateway) can write tags; give --gateway-token-file`,
    },
    {
      args: ["--host", address, "--users-file", privateFile("users", "u:p\n"), "--gateway-token-file", privateFile("token", "k\n")],
      advertised: address,
      token: "k",
      warning: null,
    },
  ];
  for (const { args, advertised, warning, token } of cases) {
    const sim = track(await startOpcsim(args));
    const gw = gatewayClient(`${address}:${sim.gatewayPort}`, { authorization: token && `Bearer ${token}` });
    let ua;
    try {
      const url = `opc.tcp://${advertised}:${sim.opcuaPort}`;
      assert.match(sim.stdout, new RegExp(`OPC UA on ${url.replace(/\./g, "\\.")}, gateway on`));
      ua = await opcuaSession(`opc.tcp://${address}:${sim.opcuaPort}`);
      const endpoints = await ua.client.getEndpoints();
      assert.deepEqual([...new Set(endpoints.map((e) => e.endpointUrl))], [url]);
      await gw.register({ group: "G", tags: [{ name: "t", value: 1 }] });
      const warnings = sim.stderr.split("\n").filter((line) => line.includes("can write tags"));
      const want = warning && `opcsim: warning: ${warning.replace(/OPCUA/g, sim.opcuaPort).replace(/GATEWAY/g, sim.gatewayPort)}`;
      assert.deepEqual(warnings, want ? [want] : [], args.join(" "));
    } finally {
      gw.close();
      if (ua) await ua.close().catch(() => {});
      sim.kill();
    }
  }
});
