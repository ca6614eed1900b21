"use strict";
// Which client writes a Double variable accepts: any scalar number that
// converts to a Double without loss.

const { DataType, VariantArrayType } = require("node-opcua-variant");

const TWO_32 = 2n ** 32n;

function int64FromWire(value, signed) {
  let big;
  if (typeof value === "bigint") big = value;
  else if (Array.isArray(value) && value.length === 2) big = BigInt(value[0]) * TWO_32 + BigInt(value[1]);
  else if (typeof value === "number" && Number.isInteger(value)) big = BigInt(value);
  else return undefined;
  return signed ? BigInt.asIntN(64, big) : BigInt.asUintN(64, big);
}

// The number a client's scalar stands for when it is exactly a Double,
// otherwise undefined (the write is then refused as a type mismatch).
function exactDouble(variant) {
  if (!variant || variant.arrayType !== VariantArrayType.Scalar) return undefined;
  const v = variant.value;
  switch (variant.dataType) {
    case DataType.Double:
    case DataType.Float:
    case DataType.SByte:
    case DataType.Byte:
    case DataType.Int16:
    case DataType.UInt16:
    case DataType.Int32:
    case DataType.UInt32:
      return typeof v === "number" ? v : undefined;
    case DataType.Int64:
    case DataType.UInt64: {
      const big = int64FromWire(v, variant.dataType === DataType.Int64);
      if (big === undefined) return undefined;
      const n = Number(big);
      return BigInt(n) === big ? n : undefined;
    }
    default:
      return undefined;
  }
}

module.exports = { exactDouble };
