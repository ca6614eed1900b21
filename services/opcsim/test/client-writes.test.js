"use strict";
// What a client may write to a tag: a scalar number that is exactly a
// Double. A refused write changes neither the tag nor what its plant reads.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const { Argument, AttributeIds, DataType, StatusCodes, VariantArrayType } = require("node-opcua-client");
const { sharedSimulation, tagsOf, valuesOf } = require("./helpers");

const shared = sharedSimulation();

const scalar = (dataType, value) => ({ value: { dataType, arrayType: VariantArrayType.Scalar, value } });
const array = (dataType, value) => ({ value: { dataType, arrayType: VariantArrayType.Array, value } });
const TYPE = StatusCodes.BadTypeMismatch;

// stored: what the tag holds afterwards; undefined for "what it held before".
const CASES = [
  { what: "a Double array", write: array(DataType.Double, [1.5, 2.5]), status: TYPE },
  { what: "a one-element Double array", write: array(DataType.Double, [1.5]), status: TYPE },
  { what: "an empty Double array", write: array(DataType.Double, []), status: TYPE },
  { what: "an Int32 array", write: array(DataType.Int32, [1, 2, 3]), status: TYPE },
  {
    what: "a Double matrix",
    write: { value: { dataType: DataType.Double, arrayType: VariantArrayType.Matrix, dimensions: [2, 2], value: [1, 2, 3, 4] } },
    status: TYPE,
  },
  { what: "a String", write: scalar(DataType.String, "12"), status: TYPE },
  { what: "a Boolean", write: scalar(DataType.Boolean, true), status: TYPE },
  { what: "a null variant", write: { value: { dataType: DataType.Null } }, status: TYPE },
  { what: "a ByteString", write: scalar(DataType.ByteString, Buffer.from([0x40, 0x28, 0, 0, 0, 0, 0, 0])), status: TYPE },
  { what: "an ExtensionObject", write: scalar(DataType.ExtensionObject, new Argument({ name: "x", valueRank: -1 })), status: TYPE },
  { what: "a LocalizedText", write: scalar(DataType.LocalizedText, { text: "12", locale: "en" }), status: TYPE },
  { what: "a DateTime", write: scalar(DataType.DateTime, new Date(12000)), status: TYPE },
  { what: "a Guid", write: scalar(DataType.Guid, "72962B91-FA75-4AE6-8D28-B404DC7DAF63"), status: TYPE },
  { what: "Int64 2^53 + 1", write: scalar(DataType.Int64, [0x00200000, 1]), status: TYPE },
  { what: "Int64 -(2^53 + 1)", write: scalar(DataType.Int64, [0xffdfffff, 0xffffffff]), status: TYPE },
  { what: "UInt64 2^64 - 1", write: scalar(DataType.UInt64, [0xffffffff, 0xffffffff]), status: TYPE },
  {
    what: "a Double with a bad status of the client's",
    write: { ...scalar(DataType.Double, 5), statusCode: StatusCodes.BadNoCommunication },
    status: StatusCodes.BadWriteNotSupported,
  },
  { what: "a NaN Double", write: scalar(DataType.Double, NaN), status: StatusCodes.Good, stored: NaN },
  { what: "+inf", write: scalar(DataType.Double, Infinity), status: StatusCodes.Good, stored: Infinity },
  { what: "-inf", write: scalar(DataType.Double, -Infinity), status: StatusCodes.Good, stored: -Infinity },
  { what: "Int64 -2^53", write: scalar(DataType.Int64, [0xffe00000, 0]), status: StatusCodes.Good, stored: -(2 ** 53) },
  { what: "a Float", write: scalar(DataType.Float, 0.1), status: StatusCodes.Good, stored: Math.fround(0.1) },
  { what: "UInt32 max", write: scalar(DataType.UInt32, 4294967295), status: StatusCodes.Good, stored: 4294967295 },
];

test("a client write is stored as a Double when it is exactly one, refused otherwise", async (t) => {
  const { session } = await shared.gw.register({ group: "TW", tags: tagsOf({ t: 0, other: 0 }) });
  for (const [i, c] of CASES.entries()) {
    await t.test(c.what, async () => {
      // A value no case writes, so that a stored write shows.
      const before = 1000.25 + i;
      await shared.gw.publish({ group: "TW", session, tags: tagsOf({ t: before }) });
      const status = await shared.ua.session.write({ nodeId: "ns=2;s=TW.t", attributeId: AttributeIds.Value, value: c.write });
      assert.equal(status.name, c.status.name);

      const expected = c.stored === undefined ? before : c.stored;
      const dv = await shared.ua.session.read({ nodeId: "ns=2;s=TW.t", attributeId: AttributeIds.Value });
      assert.equal(dv.statusCode.name, "Good");
      assert.equal(dv.value.dataType, DataType.Double);
      assert.equal(dv.value.arrayType, VariantArrayType.Scalar);
      assert.equal(dv.value.value, expected);
      assert.deepEqual(valuesOf(await shared.gw.read({ group: "TW", session })), { t: expected, other: 0 });
    });
  }
  await shared.gw.release({ group: "TW", session });
});
