"use strict";
// Who may write: with a users file only listed users over OPC UA, with a
// token file only gateway callers that carry the token. One opcsim with both
// serves the cases; bad files stop the start.

const { test, before, after } = require("node:test");
const assert = require("node:assert/strict");
const grpc = require("@grpc/grpc-js");
const { AttributeIds, DataType, StatusCodes, VariantArrayType } = require("node-opcua-client");
const { run, startOpcsim, gatewayClient, opcuaSession, privateFile, tagsOf, until, valuesOf } = require("./helpers");

const TOKEN = "t0ken-for-the-tests";
// The password holds a colon: only the first one ends the name.
const USERS = "# who may write\n\ntrainer:s3cret:x\r\nbob:pw\n";
const TRAINER = { userName: "trainer", password: "s3cret:x" };

const shared = {};
const children = [];
before(async () => {
  shared.sim = await startOpcsim([
    "--users-file",
    privateFile("users", USERS),
    "--gateway-token-file",
    privateFile("token", `  ${TOKEN}  \nignored second line\n`),
  ]);
  shared.address = `127.0.0.1:${shared.sim.gatewayPort}`;
  shared.gw = gatewayClient(shared.address, { authorization: `Bearer ${TOKEN}` });
  shared.anonymous = await opcuaSession(shared.sim.endpoint);
  shared.trainer = await opcuaSession(shared.sim.endpoint, TRAINER);
});
after(async () => {
  for (const ua of [shared.anonymous, shared.trainer]) if (ua) await ua.close().catch(() => {});
  if (shared.gw) shared.gw.close();
  if (shared.sim) shared.sim.kill();
  children.forEach((c) => c.kill());
});

const write = (ua, nodeId, value) =>
  ua.session.write({
    nodeId,
    attributeId: AttributeIds.Value,
    value: { value: { dataType: DataType.Double, arrayType: VariantArrayType.Scalar, value } },
  });

test("bad users or token files stop the start with exit 2, naming the file and line", async () => {
  const users = (text, mode) => privateFile("users", text, mode);
  const token = (text, mode) => privateFile("token", text, mode);
  const cases = [
    { args: ["--users-file", "/nonexistent/users"], says: /users file \/nonexistent\/users does not exist/ },
    { args: ["--users-file", users("a:b\n", 0o644)], says: /users is open to group or others \(mode 0644\); chmod 600 / },
    { args: ["--users-file", users("# c\na:b\nnocolon\n")], says: /users:3: expected name:password/ },
    { args: ["--users-file", users("a:\n")], says: /users:1: user "a" has an empty password/ },
    { args: ["--users-file", users("a b:pw\n")], says: /users:1: user name "a b" contains whitespace/ },
    { args: ["--users-file", users("a:1\n\na:2\n")], says: /users:3: user "a" is already listed on line 1/ },
    { args: ["--users-file", users("anonymous:pw\n")], says: /users:1: "anonymous" is the name of sessions without a user/ },
    { args: ["--users-file", users("# nobody\n\n")], says: /users lists no user/ },
    { args: ["--gateway-token-file", token(" \nsecond\n")], says: /token:1: empty gateway token/ },
    { args: ["--gateway-token-file", token("x\n", 0o640)], says: /token is open to group or others \(mode 0640\)/ },
    { args: [], env: { VARNOK_OPCSIM_USERS_FILE: users("a:b\n", 0o604) }, says: /users is open to group or others/ },
    { args: [], env: { VARNOK_GATEWAY_TOKEN_FILE: "/nonexistent/token" }, says: /gateway token file \/nonexistent\/token does not exist/ },
    { args: [], env: { VARNOK_OPCSIM_MAX_SESSIONS: "lots" }, says: /VARNOK_OPCSIM_MAX_SESSIONS: expected a number of sessions, got "lots"/ },
  ];
  await Promise.all(
    cases.map(async ({ args, env, says }) => {
      const p = run(args, env);
      children.push(p);
      const { code } = await p.exited;
      assert.equal(code, 2, `${args.join(" ")}: exit ${code}; ${p.stderr}`);
      assert.match(p.stderr, /^opcsim: [^\n]+\n$/);
      assert.match(p.stderr, says);
    }),
  );
});

test("anonymous sessions browse, read and subscribe but may not write; a listed user may", async () => {
  const { session } = await shared.gw.register({ group: "A1", tags: tagsOf({ x: 1.5, y: 0 }) });
  const nodeId = "ns=2;s=A1.x";
  const seen = await shared.anonymous.subscribe([nodeId]);
  try {
    const [value, userAccess] = await shared.anonymous.session.read([
      { nodeId, attributeId: AttributeIds.Value },
      { nodeId, attributeId: AttributeIds.UserAccessLevel },
    ]);
    assert.equal(value.value.value, 1.5);
    assert.equal(userAccess.value.value, 1, "UserAccessLevel: CurrentRead only");

    assert.equal((await write(shared.anonymous, nodeId, 99)).name, "BadUserAccessDenied");
    assert.equal(valuesOf(await shared.gw.read({ group: "A1", session })).x, 1.5);

    assert.equal((await write(shared.trainer, nodeId, 42)).name, "Good");
    assert.equal(valuesOf(await shared.gw.read({ group: "A1", session })).x, 42);
    await until(async () => seen.seen[nodeId].some((dv) => dv.value.value === 42), 5000, "the anonymous subscriber to see 42");

    const [trainerAccess] = await shared.trainer.session.read([{ nodeId, attributeId: AttributeIds.UserAccessLevel }]);
    assert.equal(trainerAccess.value.value, 3, "UserAccessLevel: CurrentRead | CurrentWrite");
  } finally {
    await seen.close();
  }
  await shared.gw.release({ group: "A1", session });
});

test("a wrong password or an unknown user is refused when the session is activated", async () => {
  for (const user of [
    { userName: "trainer", password: "s3cret" },
    { userName: "trainer", password: "" },
    { userName: "nobody", password: "pw" },
  ]) {
    await assert.rejects(opcuaSession(shared.sim.endpoint, user), (err) => {
      assert.match(err.message, /BadUserAccessDenied \(0x801f0000\)/, `${user.userName}/${user.password}`);
      return true;
    });
  }
});

test("the endpoint offers anonymous and encrypted user name tokens, nothing else", async () => {
  const endpoints = await shared.anonymous.client.getEndpoints();
  assert.equal(endpoints.length, 1);
  const tokens = endpoints[0].userIdentityTokens.map((t) => [t.tokenType, t.securityPolicyUri]);
  assert.deepEqual(tokens, [
    [1, "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256"],
    [1, "http://opcfoundation.org/UA/SecurityPolicy#Aes128_Sha256_RsaOaep"],
    [0, null],
  ]);
  assert.equal(endpoints[0].securityPolicyUri, "http://opcfoundation.org/UA/SecurityPolicy#None");
});

test("gateway calls without the token, or with another, are UNAUTHENTICATED and say how to give it", async () => {
  const cases = [
    { authorization: undefined, says: /^this gateway needs a token: give metadata "authorization: Bearer <token>"/ },
    { authorization: "Bearer wrong", says: /^wrong gateway token: give metadata "authorization: Bearer <token>"/ },
    { authorization: TOKEN, says: /^wrong gateway token/ }, // without the scheme
    { authorization: `Basic ${TOKEN}`, says: /^wrong gateway token/ },
  ];
  const { session } = await shared.gw.register({ group: "A2", tags: tagsOf({ x: 1 }) });
  for (const { authorization, says } of cases) {
    const gw = gatewayClient(shared.address, { authorization });
    try {
      for (const [what, call] of [
        ["Register", () => gw.register({ group: "A3", tags: tagsOf({ x: 1 }) })],
        ["Publish", () => gw.publish({ group: "A2", session, tags: tagsOf({ x: 5 }) })],
        ["Exchange", () => gw.exchange([{ group: "A2", session, changed_index: [0], changed_value: [5], read: true }])],
      ]) {
        await assert.rejects(call(), (err) => {
          assert.equal(err.code, grpc.status.UNAUTHENTICATED, `${what} with ${authorization}: ${err.details}`);
          assert.match(err.details, says);
          return true;
        });
      }
    } finally {
      gw.close();
    }
  }
  // Nothing of the refused calls reached the group; a lower-case scheme is fine.
  const lower = gatewayClient(shared.address, { authorization: `bearer ${TOKEN}` });
  try {
    assert.deepEqual(await lower.exchange([{ group: "A2", session, read: true }]), [{ values: [1] }]);
  } finally {
    lower.close();
  }
  await shared.gw.release({ group: "A2", session });
});
