"use strict";
// A tag's unit as OPC UA clients read it: the text as the plant wrote it,
// plus the UNECE common code where the unit is a common one, so that a
// client can convert values without parsing unit texts.

const UNECE_UNITS_URI = "http://www.opcfoundation.org/UA/units/un/cefact";

// Common codes by unit as written; ASCII spellings where plants use them.
const COMMON_CODES = new Map([
  ["%", "P1"],
  ["ppm", "59"],
  ["°C", "CEL"],
  ["degC", "CEL"],
  ["K", "KEL"],
  ["°F", "FAH"],
  ["degF", "FAH"],
  ["Pa", "PAL"],
  ["hPa", "A97"],
  ["kPa", "KPA"],
  ["MPa", "MPA"],
  ["mbar", "MBR"],
  ["bar", "BAR"],
  ["ms", "C26"],
  ["s", "SEC"],
  ["min", "MIN"],
  ["h", "HUR"],
  ["mm", "MMT"],
  ["cm", "CMT"],
  ["m", "MTR"],
  ["m/s", "MTS"],
  ["l", "LTR"],
  ["L", "LTR"],
  ["m³", "MTQ"],
  ["m3", "MTQ"],
  ["g", "GRM"],
  ["kg", "KGM"],
  ["t", "TNE"],
  ["kg/m³", "KMQ"],
  ["kg/m3", "KMQ"],
  ["kg/s", "KGS"],
  ["kg/min", "F31"],
  ["kg/h", "E93"],
  ["t/h", "E18"],
  ["lb/min", "K78"],
  ["l/h", "E32"],
  ["L/h", "E32"],
  ["m³/s", "MQS"],
  ["m3/s", "MQS"],
  ["m³/min", "G53"],
  ["m3/min", "G53"],
  ["m³/h", "MQH"],
  ["m3/h", "MQH"],
  ["W", "WTT"],
  ["kW", "KWT"],
  ["MW", "MAW"],
  ["V", "VLT"],
  ["A", "AMP"],
  ["Hz", "HTZ"],
  ["rpm", "RPM"],
  ["r/min", "RPM"],
]);

// The code's characters, one byte each, most significant first.
function unitIdOf(code) {
  let id = 0;
  for (const c of code) id = id * 256 + c.charCodeAt(0);
  return id;
}

// The fields of the EngineeringUnits value for `unit`; unitId -1 when the
// unit has no known code.
function euInformation(unit) {
  const code = COMMON_CODES.get(unit);
  return {
    namespaceUri: UNECE_UNITS_URI,
    unitId: code === undefined ? -1 : unitIdOf(code),
    displayName: { text: unit },
    description: { text: unit },
  };
}

module.exports = { euInformation, UNECE_UNITS_URI };
