"use strict";
// What becomes of an OPC UA client's write to a tag: a scalar number that is
// exactly a Double is stored as a Double. Everything else is refused with a
// status the client can act on, so that no written value reaches a plant as
// something else.

const { StatusCodes } = require("node-opcua-status-code");
const { exactDouble } = require("./exact-double");

// dataValue: the DataValue the client wrote. Returns { value } (a number) to
// store, or { status }.
function judgeClientWrite(dataValue) {
  const value = exactDouble(dataValue && dataValue.value);
  if (value === undefined) return { status: StatusCodes.BadTypeMismatch };
  // A tag's status is opcsim's to set.
  const written = dataValue.statusCode;
  if (written && written.value !== StatusCodes.Good.value) return { status: StatusCodes.BadWriteNotSupported };
  return { value };
}

module.exports = { judgeClientWrite };
