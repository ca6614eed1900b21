"use strict";
// The OPC UA side of the class: one trainee session per group, subscribed to
// the group's CVs as a controller or the viewer is, and the benchmark's own
// session, which reads every plant's RunCount. node-opcua comes from
// opcsim's packages.

const path = require("node:path");
const util = require("node:util");

const opcsimDir = path.resolve(__dirname, "..", "..", "services", "opcsim");
const load = (name) => require(require.resolve(name, { paths: [opcsimDir] }));

// node-opcua prints notes and warnings on stdout, which would break up the
// report; keep its errors, on stderr. Must run before the client loads.
const debug = load("node-opcua-debug");
debug.setWarningLogger(() => {});
debug.setTraceLogger(() => {});
debug.setErrorLogger((_context, ...args) => process.stderr.write(`node-opcua: ${util.format(...args)}\n`));

const {
  OPCUAClient,
  ClientMonitoredItemGroup,
  TimestampsToReturn,
  AttributeIds,
  BrowseDirection,
  DataType,
  StatusCodes,
} = load("node-opcua-client");
const { OPCUACertificateManager } = load("node-opcua-certificate-manager");

const CALL_TIMEOUT_MS = 15000;
// The client closes a connection that has been silent this long; the
// benchmark's own session is kept busy more often than that.
const SILENCE_MS = 60000;
const KEEP_ALIVE_MS = 5000;
const PUBLISHING_MS = 1000;
// Twice per period at speed 1, so every period's value is sampled whatever
// the phase between the plant's clock and the server's sampling timer; the
// queue holds what one publishing interval samples.
const SAMPLING_MS = 500;
const QUEUE_SIZE = Math.ceil(PUBLISHING_MS / SAMPLING_MS) + 1;
const CV = /^CV\d+(_[A-Z])?$/;
const NOISE = ["SET_CV_STD", "SET_CV1_STD"];

const node = (group, tag) => `ns=2;s=${group}.${tag}`;

function withTimeout(promise, ms, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what}: no answer within ${ms} ms`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// One client key pair for all sessions: making one per session would cost
// more than the session. The first connection makes it; the others wait.
class Certificates {
  constructor(folder) {
    this.manager = new OPCUACertificateManager({ rootFolder: folder, automaticallyAcceptUnknownCertificate: true });
    this.made = null;
  }

  async connect(client, endpoint) {
    if (!this.made) {
      this.made = client.connect(endpoint);
      return this.made;
    }
    await this.made.catch(() => {});
    return client.connect(endpoint);
  }
}

// A connected client with a session, or throws naming what failed. No
// reconnection: a lost connection is something to report, not to hide.
async function openSession(endpoint, certificates, onLost) {
  const client = OPCUAClient.create({
    applicationName: "varnok-classroom-bench",
    endpointMustExist: false,
    connectionStrategy: { maxRetry: 0, initialDelay: 500, maxDelay: 1000 },
    transportTimeout: SILENCE_MS,
    defaultTransactionTimeout: CALL_TIMEOUT_MS,
    requestedSessionTimeout: 60000,
    keepSessionAlive: true,
    keepAliveInterval: KEEP_ALIVE_MS,
    clientCertificateManager: certificates.manager,
  });
  client.on("connection_lost", onLost);
  try {
    await withTimeout(certificates.connect(client, endpoint), CALL_TIMEOUT_MS * 2, "connect");
    const session = await withTimeout(client.createSession(), CALL_TIMEOUT_MS, "CreateSession");
    return { client, session };
  } catch (err) {
    await withTimeout(client.disconnect(), CALL_TIMEOUT_MS, "disconnect").catch(() => {});
    throw err;
  }
}

async function closeSession({ client, session }) {
  if (session) await withTimeout(session.close(), CALL_TIMEOUT_MS, "CloseSession").catch(() => {});
  await withTimeout(client.disconnect(), CALL_TIMEOUT_MS, "disconnect").catch(() => {});
}

// A trainee's session: the group's CVs at SAMPLING_MS, published every
// PUBLISHING_MS. While the window is open it keeps how many values came with
// each source time stamp, so that they can be counted afterwards between
// two periods of the plant exactly (opcsim stamps all values of a period
// alike), and adds their latency to `latency`.
class TraineeSession {
  constructor(group, latency) {
    this.group = group;
    this.latency = latency;
    this.failure = null; // why it could not open (a refusal says BadTooManySessions)
    this.lost = null; // why it stopped working during the run
    this.cvs = [];
    this.tagCount = 0; // tags in the group, CVs or not
    this.stamps = []; // source time stamps (ms) of the values in the window...
    this.stampCounts = []; // ...and how many values came with each, in order of arrival
    this.samplingMs = [];
    this.badValues = 0; // notifications with a bad status (the plant gone)
    this.window = null; // { from, to } in ms since the epoch, `to` open-ended while measuring
    this.ua = null;
  }

  async open(endpoint, certificates) {
    try {
      this.ua = await openSession(endpoint, certificates, () => this.markLost("connection lost"));
      const { session } = this.ua;
      session.on("session_closed", (status) => this.markLost(`session closed: ${status}`));
      const names = await this.browse(session);
      this.tagCount = names.length;
      this.cvs = names.filter((n) => CV.test(n));
      if (this.cvs.length === 0) throw new Error(`group ${this.group} has no CVs`);
      // The trainer turns the measurement noise on, so every CV moves each
      // period: an unmoving tag is never published, which would flatter opcsim.
      const noise = names.find((n) => NOISE.includes(n));
      if (noise) await this.write(session, noise, 1);
      await this.subscribe(session);
    } catch (err) {
      this.failure = err.message;
    }
  }

  async browse(session) {
    const result = await withTimeout(
      session.browse({
        nodeId: `ns=2;s=${this.group}`,
        browseDirection: BrowseDirection.Forward,
        referenceTypeId: "HierarchicalReferences",
        includeSubtypes: true,
        resultMask: 0x3f,
      }),
      CALL_TIMEOUT_MS,
      "Browse",
    );
    if (!result.statusCode.isGood()) throw new Error(`browse ${this.group}: ${result.statusCode}`);
    return result.references.map((r) => r.browseName.name);
  }

  async write(session, tag, value) {
    const status = await withTimeout(
      session.write({
        nodeId: node(this.group, tag),
        attributeId: AttributeIds.Value,
        value: { value: { dataType: DataType.Double, value } },
      }),
      CALL_TIMEOUT_MS,
      "Write",
    );
    if (status.value !== StatusCodes.Good.value) throw new Error(`write ${this.group}.${tag}: ${status}`);
  }

  async subscribe(session) {
    const subscription = await withTimeout(
      session.createSubscription2({
        requestedPublishingInterval: PUBLISHING_MS,
        requestedLifetimeCount: 60,
        requestedMaxKeepAliveCount: 5,
        maxNotificationsPerPublish: 0,
        publishingEnabled: true,
        priority: 1,
      }),
      CALL_TIMEOUT_MS,
      "CreateSubscription",
    );
    subscription.on("terminated", () => this.markLost("subscription terminated"));
    const items = ClientMonitoredItemGroup.create(
      subscription,
      this.cvs.map((tag) => ({ nodeId: node(this.group, tag), attributeId: AttributeIds.Value })),
      { samplingInterval: SAMPLING_MS, queueSize: QUEUE_SIZE, discardOldest: true },
      TimestampsToReturn.Both,
    );
    items.on("changed", (_item, dataValue) => this.notified(dataValue));
    await withTimeout(
      new Promise((resolve, reject) => {
        items.once("initialized", resolve);
        items.once("err", (message) => reject(new Error(`monitored items: ${message}`)));
      }),
      CALL_TIMEOUT_MS,
      "CreateMonitoredItems",
    );
    this.samplingMs = items.monitoredItems.map((item) => item.monitoringParameters.samplingInterval);
  }

  notified(dataValue) {
    const received = Date.now();
    if (!dataValue.statusCode.isGood()) {
      this.badValues++;
      return;
    }
    const source = dataValue.sourceTimestamp?.getTime();
    if (!this.window || !(source > this.window.from && source <= this.window.to)) return;
    this.latency.add(received - source);
    const last = this.stamps.length - 1;
    if (last >= 0 && this.stamps[last] === source) {
      this.stampCounts[last]++;
    } else {
      this.stamps.push(source);
      this.stampCounts.push(1);
    }
  }

  // Values with a source time stamp in (from, to].
  receivedBetween(from, to) {
    let n = 0;
    for (let i = 0; i < this.stamps.length; i++) {
      if (this.stamps[i] > from && this.stamps[i] <= to) n += this.stampCounts[i];
    }
    return n;
  }

  markLost(why) {
    if (!this.lost && this.ua) this.lost = why;
  }

  isOpen() {
    return this.ua !== null && this.failure === null;
  }

  async close() {
    const ua = this.ua;
    this.ua = null; // a close of ours is no loss
    if (ua) await closeSession(ua);
  }
}

// The benchmark's own session: RunCount of every group in one Read, so all
// come from the same instant.
class MonitorSession {
  async open(endpoint, certificates) {
    this.ua = await openSession(endpoint, certificates, () => {});
  }

  // Per group: { count, at (source timestamp, ms), good }.
  async runCounts(groups) {
    const values = await withTimeout(
      this.ua.session.read(groups.map((g) => ({ nodeId: node(g, "RunCount"), attributeId: AttributeIds.Value }))),
      CALL_TIMEOUT_MS,
      "Read RunCount",
    );
    return values.map((v) => ({
      count: typeof v.value.value === "number" ? v.value.value : null,
      at: v.sourceTimestamp ? v.sourceTimestamp.getTime() : null,
      good: v.statusCode.isGood(),
    }));
  }

  async close() {
    if (this.ua) await closeSession(this.ua);
    this.ua = null;
  }
}

module.exports = { Certificates, TraineeSession, MonitorSession, withTimeout, SAMPLING_MS, PUBLISHING_MS, CV };
