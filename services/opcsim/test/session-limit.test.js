"use strict";
// How many OPC UA clients opcsim serves at once, and what the one past the
// limit and the log see.

const { test, after } = require("node:test");
const assert = require("node:assert/strict");
const { AttributeIds, ClientSubscription, StatusCodes } = require("node-opcua-client");
const { startOpcsim, opcuaSession } = require("./helpers");
const { RefusalReport } = require("../src/session-limit");
const { MAX_SESSIONS_DEFAULT } = require("../src/options");

const children = [];
const sessions = [];
after(async () => {
  await Promise.all(sessions.map((s) => s.close().catch(() => {})));
  children.forEach((c) => c.kill());
});

async function openSessions(endpoint, n, batch = 25) {
  const opened = [];
  for (let i = 0; i < n; i += batch) {
    const some = await Promise.all(Array.from({ length: Math.min(batch, n - i) }, () => opcuaSession(endpoint)));
    opened.push(...some);
    sessions.push(...some);
  }
  return opened;
}

const closeAll = (opened) => Promise.all(opened.map((s) => s.close()));

test("past --max-sessions a client is refused with BadTooManySessions and the log names the option", async () => {
  const sim = await startOpcsim(["--max-sessions", "5"]);
  children.push(sim);
  const five = await openSessions(sim.endpoint, 5);
  for (let i = 0; i < 2; i++) {
    await assert.rejects(opcuaSession(sim.endpoint), (err) => {
      assert.match(err.message, /BadTooManySessions \(0x80560000\)/);
      return true;
    });
  }
  await sim.waitFor(
    /OPC UA session refused \(BadTooManySessions\): all 5 sessions are in use; raise the limit with --max-sessions or VARNOK_OPCSIM_MAX_SESSIONS\n/,
  );
  // A session that closes makes room.
  await five[0].close();
  sessions.push(await opcuaSession(sim.endpoint));
  await closeAll(five.slice(1));
});

// node-opcua's own default allows 100 subscriptions in all; a class of 50
// with a viewer and a controller each needs more. (200 sessions at once are
// measured by bench/classroom.sh, not here.)
test(`the default limit (${MAX_SESSIONS_DEFAULT}) serves more than 100 subscriptions across sessions`, async () => {
  const sim = await startOpcsim();
  children.push(sim);
  const opened = await openSessions(sim.endpoint, 11);
  const subscriptions = [];
  for (const { session } of opened) {
    for (let i = 0; i < 10; i++) {
      subscriptions.push(
        await ClientSubscription.create(session, {
          requestedPublishingInterval: 1000,
          requestedLifetimeCount: 100,
          requestedMaxKeepAliveCount: 10,
          publishingEnabled: true,
        }),
      );
    }
  }
  assert.equal(subscriptions.length, 110);
  const last = await opened[opened.length - 1].session.read({ nodeId: "ns=0;i=2255", attributeId: AttributeIds.Value });
  assert.equal(last.statusCode.value, StatusCodes.Good.value);
  assert.doesNotMatch(sim.stdout, /refused/);
  await Promise.all(subscriptions.map((s) => s.terminate()));
  await closeAll(opened);
});

test("refusals are reported at most once per interval, counting those in between", () => {
  let now = 0;
  const lines = [];
  const report = new RefusalReport({ log: (line) => lines.push(line), intervalMs: 10000, now: () => now });
  const steps = [
    { at: 0, logged: "X; raise the limit with --max-sessions or VARNOK_OPCSIM_MAX_SESSIONS" },
    { at: 1 },
    { at: 9999 },
    { at: 10000, logged: "X; raise the limit with --max-sessions or VARNOK_OPCSIM_MAX_SESSIONS (3 refused since the last report)" },
    { at: 30000, logged: "X; raise the limit with --max-sessions or VARNOK_OPCSIM_MAX_SESSIONS" },
  ];
  for (const { at, logged } of steps) {
    now = at;
    const before = lines.length;
    report.refused("X");
    assert.deepEqual(lines.slice(before), logged ? [logged] : [], `at ${at}`);
  }
});
