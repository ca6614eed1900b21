"use strict";
// What becomes of an OPC UA client's write to a tag: a scalar number that is
// exactly a Double is stored as a Double, and only while a plant serves the
// tag's group. Everything else is refused with a status the client can act
// on, so that no written value reaches a plant as something else.

const { StatusCodes } = require("node-opcua-status-code");
const { exactDouble } = require("./exact-double");

// dataValue: the DataValue the client wrote; served: whether a plant serves
// the tag's group now. Returns { value } (a number) to store, or { status }.
function judgeClientWrite(dataValue, served) {
  const value = exactDouble(dataValue && dataValue.value);
  if (value === undefined) return { status: StatusCodes.BadTypeMismatch };
  // A tag's status says whether a plant serves its group; only opcsim sets it.
  const written = dataValue.statusCode;
  if (written && written.value !== StatusCodes.Good.value) return { status: StatusCodes.BadWriteNotSupported };
  // No plant would read the value, and the plant's registration overwrites it.
  if (!served) return { status: StatusCodes.BadNoCommunication };
  return { value };
}

module.exports = { judgeClientWrite };
