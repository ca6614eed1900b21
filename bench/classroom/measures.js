"use strict";
// The arithmetic of the report: periods a plant ran against those asked for,
// notifications to expect, latency percentiles, spreads.

// Latencies in whole milliseconds, one counter per millisecond up to the
// limit and one for all above it: a one-hour run keeps the same memory as a
// one-minute one.
class LatencyHistogram {
  constructor(limitMs = 120000) {
    this.buckets = new Uint32Array(limitMs + 1);
    this.count = 0;
    this.max = -Infinity;
    this.negative = 0; // a source time stamp ahead of our clock: counted as 0
  }

  add(ms) {
    if (ms < 0) this.negative++;
    const bucket = Math.min(Math.max(Math.round(ms), 0), this.buckets.length - 1);
    this.buckets[bucket]++;
    this.count++;
    this.max = Math.max(this.max, ms);
  }

  // The smallest latency that at least `p` percent of the values do not
  // exceed; the limit stands for any value above it. null when empty.
  percentile(p) {
    if (this.count === 0) return null;
    const rank = Math.max(1, Math.ceil((p / 100) * this.count));
    let seen = 0;
    for (let ms = 0; ms < this.buckets.length; ms++) {
      seen += this.buckets[ms];
      if (seen >= rank) return ms;
    }
    return this.buckets.length - 1;
  }
}

// The periods a plant ran between two reads of its RunCount, against those
// its clock asked for. `start` and `end` are the reads' values with their
// source time stamps (when that period's values reached opcsim); `endAt` is
// when the second read was sent. Counting between the two periods' own time
// stamps leaves no partial period at either end, so even a plant with a
// one-minute period is measured exactly. A plant that stopped publishing
// before the end read owes the periods since, less the one that may be on
// its way.
function periodShare({ start, end, endAt, speed, periodSeconds }) {
  const dueMs = (periodSeconds * 1000) / speed;
  const between = Math.round((end.at - start.at) / dueMs);
  const silent = Math.max(0, Math.floor((endAt - end.at) / dueMs) - 1);
  const expected = between + silent;
  const ran = end.count - start.count;
  return { ran, expected, share: expected > 0 ? ran / expected : null };
}

// Notifications a monitored item owes for a window: one per new value, and
// its value is new at most once per plant period and once per sample. The
// server's sampling timer is not in step with the window, so a window holds
// one sample more or less than its length says: the expectation is the
// length itself, a fraction, right on average.
function expectedNotifications({ periods, windowMs, samplingMs }) {
  const samples = samplingMs > 0 ? windowMs / samplingMs : periods;
  return Math.max(0, Math.min(periods, samples));
}

// { min, median, max } of the numbers given, nulls left out; null when none.
function spread(values) {
  const sorted = values.filter((v) => v !== null && Number.isFinite(v)).sort((a, b) => a - b);
  if (sorted.length === 0) return null;
  const mid = sorted.length >> 1;
  const median = sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
  return { min: sorted[0], median, max: sorted[sorted.length - 1] };
}

const sum = (values) => values.reduce((a, b) => a + b, 0);

module.exports = { LatencyHistogram, periodShare, expectedNotifications, spread, sum };
