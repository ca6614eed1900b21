"use strict";
// HistoryRead of raw values for the tag variables, answered from the
// recorder's database. Reads page through the rows by time stamp, so a
// continuation point holds only where the last page ended.

const { DataValue } = require("node-opcua-data-value");
const { HistoryData, HistoryReadResult, ReadRawModifiedDetails } = require("node-opcua-service-history");
const { StatusCodes } = require("node-opcua-status-code");
const { DataType } = require("node-opcua-variant");
const { isConnectionProblem } = require("./history-db");

// Values per response when the client asks for more, or for all (0).
const MAX_VALUES_PER_RESPONSE = 1000;

// Microseconds that stay exact as JS numbers (about 1685..2255); requests
// beyond are clamped, an unspecified time (the 1601 minimum) means open.
const MIN_US = -Number.MAX_SAFE_INTEGER;
const MAX_US = Number.MAX_SAFE_INTEGER;
const UNSPECIFIED_BEFORE_MS = Date.UTC(1601, 0, 2);

const SESSIONLESS = {};

// A request's time in microseconds, or null when unspecified. Decoded
// DateTimes carry their sub-millisecond part as `picoseconds`.
function microsecondsOf(date) {
  if (!(date instanceof Date) || Number.isNaN(date.getTime()) || date.getTime() < UNSPECIFIED_BEFORE_MS) return null;
  const us = date.getTime() * 1000 + Math.floor((date.picoseconds || 0) / 1e6);
  return Math.min(MAX_US, Math.max(MIN_US, us));
}

// The row's time as both time stamps, to the microsecond.
function dataValueOf(row) {
  const ms = Math.floor(row.us / 1000);
  const picoseconds = (row.us - ms * 1000) * 1e6;
  return new DataValue({
    value: { dataType: DataType.Double, value: row.value },
    statusCode: StatusCodes.Good,
    sourceTimestamp: new Date(ms),
    sourcePicoseconds: picoseconds,
    serverTimestamp: new Date(ms),
    serverPicoseconds: picoseconds,
  });
}

const resultOf = (statusCode, dataValues = [], continuationPoint = undefined) =>
  new HistoryReadResult({ statusCode, continuationPoint, historyData: new HistoryData({ dataValues }) });

// What a new raw read asks for: { fromUs, toUs, reverse, perResponse }, or
// { status } when it cannot be answered. returnBounds is not supported and
// ignored: only recorded values are returned.
function rangeOf(details) {
  if (details.isReadModified) return { status: StatusCodes.BadHistoryOperationUnsupported };
  const start = microsecondsOf(details.startTime);
  const end = microsecondsOf(details.endTime);
  const n = details.numValuesPerNode || 0;
  const perResponse = n > 0 ? Math.min(n, MAX_VALUES_PER_RESPONSE) : MAX_VALUES_PER_RESPONSE;
  // Two of start, end and a count make a range; with one end open the
  // count makes it a paged read from the given end.
  if (start !== null && end !== null) {
    return { fromUs: Math.min(start, end), toUs: Math.max(start, end), reverse: end < start, perResponse };
  }
  if (n > 0 && start !== null) return { fromUs: start, toUs: MAX_US, reverse: false, perResponse };
  if (n > 0 && end !== null) return { fromUs: MIN_US, toUs: end, reverse: true, perResponse };
  return { status: StatusCodes.BadHistoryOperationInvalid };
}

function statusOfFailure(err, log) {
  if (err.code === "57014") return StatusCodes.BadTimeout;
  if (isConnectionProblem(err)) return StatusCodes.BadNoCommunication;
  log(`history read failed: ${err.message}`);
  return StatusCodes.BadInternalError;
}

// Answers raw reads of the tags from `db` (a HistoryDatabase), keeping
// paused reads in `points` (ContinuationPoints).
class HistoryReader {
  constructor({ db, points, log }) {
    this.db = db;
    this.points = points;
    this.log = log;
  }

  // Makes `variable` historizing, read from the tag named as the recorder
  // names it ("ns:identifier").
  serve(variable) {
    const reader = this;
    const tagName = `${variable.nodeId.namespace}:${variable.nodeId.value}`;
    variable.historyRead = function historyRead(context, details, _indexRange, _encoding, continuation, callback) {
      const answer = this.canUserReadHistory(context)
        ? reader.read(context.session || SESSIONLESS, tagName, details, continuation || {})
        : Promise.resolve(resultOf(StatusCodes.BadUserAccessDenied));
      if (typeof callback !== "function") return answer;
      answer.then((result) => callback(null, result));
      return undefined;
    };
  }

  async read(session, tagName, details, { continuationPoint, releaseContinuationPoints }) {
    if (!(details instanceof ReadRawModifiedDetails)) return resultOf(StatusCodes.BadHistoryOperationUnsupported);
    let range;
    const continuing = continuationPoint && continuationPoint.length > 0;
    if (continuing) {
      range = this.points.get(session, continuationPoint);
      if (!range || range.tagName !== tagName) return resultOf(StatusCodes.BadContinuationPointInvalid);
      if (releaseContinuationPoints) {
        this.points.release(session, continuationPoint);
        return resultOf(StatusCodes.Good);
      }
    } else {
      if (releaseContinuationPoints) return resultOf(StatusCodes.BadContinuationPointInvalid);
      range = rangeOf(details);
      if (range.status) return resultOf(range.status);
      range = { ...range, tagName, after: null };
    }
    let rows;
    try {
      rows = await this.db.readRaw({ ...range, limit: range.perResponse + 1 });
    } catch (err) {
      // A continuation point stays valid, so the client may try it again.
      return resultOf(statusOfFailure(err, this.log));
    }
    if (continuing) this.points.release(session, continuationPoint);
    const page = rows.slice(0, range.perResponse);
    if (page.length === 0) return resultOf(StatusCodes.GoodNoData);
    let key;
    if (rows.length > page.length) {
      const last = page[page.length - 1];
      key = this.points.add(session, { ...range, after: { us: last.us, row: last.row } });
    }
    return resultOf(StatusCodes.Good, page.map(dataValueOf), key);
  }
}

module.exports = { HistoryReader, rangeOf, microsecondsOf, MAX_VALUES_PER_RESPONSE };
