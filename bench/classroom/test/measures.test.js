"use strict";
// The report's arithmetic: periods asked of a plant, notifications owed,
// latency percentiles.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const { LatencyHistogram, periodShare, expectedNotifications, spread } = require("../measures");

test("periodShare counts the periods due between the two reads' own time stamps", () => {
  const t0 = 1_700_000_000_000;
  const cases = [
    // what, speed, period s, start, end, end read sent at, ran, expected
    ["on time at speed 1", 1, 1, [100, t0], [220, t0 + 120000], t0 + 120400, 120, 120],
    ["on time at speed 10", 10, 1, [5, t0], [1205, t0 + 120000], t0 + 120090, 1200, 1200],
    ["the next period on its way to opcsim", 1, 1, [0, t0], [120, t0 + 120000], t0 + 121020, 120, 120],
    ["a late last period", 10, 1, [0, t0], [1200, t0 + 120040], t0 + 120050, 1200, 1200],
    ["periods skipped after a late one", 10, 1, [0, t0], [1190, t0 + 120000], t0 + 120010, 1190, 1200],
    ["one-minute periods, read mid-period", 1, 60, [3, t0], [5, t0 + 120000], t0 + 150000, 2, 2],
    ["stopped 10 periods before the read", 1, 1, [0, t0], [110, t0 + 110000], t0 + 120500, 110, 119],
    ["not one period in the window", 1, 60, [3, t0], [3, t0], t0 + 30000, 0, 0],
  ];
  for (const [what, speed, periodSeconds, [c0, a0], [c1, a1], endAt, ran, expected] of cases) {
    const result = periodShare({
      start: { count: c0, at: a0 },
      end: { count: c1, at: a1 },
      endAt,
      speed,
      periodSeconds,
    });
    assert.deepEqual([result.ran, result.expected], [ran, expected], what);
    assert.equal(result.share, expected > 0 ? ran / expected : null, what);
  }
});

test("expectedNotifications is one per new value: at most one per period and one per sample", () => {
  const cases = [
    // periods, window ms, sampling ms, expected
    [120, 120000, 500, 120], // speed 1: every period sampled
    [1200, 120000, 500, 240], // speed 10: the sampling limits
    [1200, 120250, 500, 240.5], // a window out of step with the sampling
    [2, 120000, 500, 2], // one-minute plant
    [0, 120000, 500, 0],
    [10, 120000, 0, 10], // delivered on change
  ];
  for (const [periods, windowMs, samplingMs, expected] of cases) {
    assert.equal(expectedNotifications({ periods, windowMs, samplingMs }), expected, `${periods} ${samplingMs}`);
  }
});

test("LatencyHistogram percentiles match a sorted list's, to the millisecond", () => {
  const sorted = (values) => [...values].sort((a, b) => a - b);
  const nearestRank = (values, p) => sorted(values)[Math.max(1, Math.ceil((p / 100) * values.length)) - 1];
  const sets = {
    uniform: Array.from({ length: 1000 }, (_, i) => i),
    skewed: [...Array(990).fill(500), ...Array(10).fill(4000)],
    single: [731],
  };
  for (const [name, values] of Object.entries(sets)) {
    const h = new LatencyHistogram();
    for (const v of values) h.add(v);
    for (const p of [50, 99, 100]) assert.equal(h.percentile(p), nearestRank(values, p), `${name} p${p}`);
    assert.equal(h.max, Math.max(...values), name);
  }
});

test("LatencyHistogram keeps values beyond its limit and before our clock", () => {
  const h = new LatencyHistogram(1000);
  h.add(-3);
  h.add(250);
  h.add(5000);
  assert.deepEqual([h.count, h.negative, h.max], [3, 1, 5000]);
  assert.deepEqual([h.percentile(1), h.percentile(50), h.percentile(100)], [0, 250, 1000]);
  assert.equal(new LatencyHistogram().percentile(50), null);
});

test("spread leaves out nulls and takes the middle pair's mean for an even count", () => {
  assert.deepEqual(spread([3, null, 1, 2]), { min: 1, median: 2, max: 3 });
  assert.deepEqual(spread([4, 1, 3, 2]), { min: 1, median: 2.5, max: 4 });
  assert.equal(spread([null, NaN]), null);
});
