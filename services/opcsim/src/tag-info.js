"use strict";
// How a tag's info shows on its variable: the Description attribute and,
// for a tag with a unit or a range, the AnalogItemType with the properties
// EngineeringUnits and EURange. Changes are made on the variable itself, so
// clients subscribed to it stay subscribed when a plant registers with
// other info.

const { NodeId, NodeIdType } = require("node-opcua-nodeid");
const { DataType, Variant } = require("node-opcua-variant");
const { StatusCodes } = require("node-opcua-status-code");
const { euInformation } = require("./engineering-units");

const NO_INFO = Object.freeze({ description: "", unit: "", range: null });
// An AnalogItem always has an EURange; a unit without a range gets this.
const OPEN_RANGE = Object.freeze({ low: -Infinity, high: Infinity });

const isAnalog = (info) => info.unit !== "" || info.range !== null;
const euRangeOf = (info) => (isAnalog(info) ? info.range || OPEN_RANGE : null);
const sameRange = (a, b) => a === b || (a !== null && b !== null && a.low === b.low && a.high === b.high);

class TagInfoNodes {
  constructor(namespace) {
    this.namespace = namespace;
    this.addressSpace = namespace.addressSpace;
    const find = (what, name) => {
      const node = this.addressSpace[what](name);
      if (!node) throw new Error(`the address space has no ${name}`);
      return node;
    };
    this.analogItemType = find("findVariableType", "AnalogItemType").nodeId;
    this.plainType = find("findVariableType", "BaseDataVariableType").nodeId;
    this.rangeType = find("findDataType", "Range");
    this.euInformationType = find("findDataType", "EUInformation");
    this.shown = new WeakMap(); // variable -> the info it shows
    // Properties get numeric node ids: tag node ids are strings, and any
    // string could be some tag's name.
    this.lastPropertyId = 0;
  }

  // Makes `variable` show `info` (from Registry's checkInfo; undefined: no
  // info). When its unit or range changed, subscribers get a notification
  // flagged SemanticsChanged, so that clients re-read what they cached.
  show(variable, info = NO_INFO) {
    const before = this.shown.get(variable) || NO_INFO;
    if (before.description !== info.description) {
      variable.setDescription(info.description === "" ? null : { text: info.description });
    }
    if (isAnalog(before) !== isAnalog(info)) {
      const old = variable.typeDefinition;
      variable.removeReference({ referenceType: "HasTypeDefinition", isForward: true, nodeId: old });
      variable.addReference({
        referenceType: "HasTypeDefinition",
        isForward: true,
        nodeId: isAnalog(info) ? this.analogItemType : this.plainType,
      });
    }
    let semanticsChanged = false;
    if (before.unit !== info.unit) {
      const units = info.unit === "" ? null : euInformation(info.unit);
      this._setProperty(variable, "EngineeringUnits", this.euInformationType, units);
      semanticsChanged = true;
    }
    const range = euRangeOf(info);
    if (!sameRange(euRangeOf(before), range)) {
      this._setProperty(variable, "EURange", this.rangeType, range);
      semanticsChanged = true;
    }
    if (semanticsChanged) variable.handle_semantic_changed();
    this.shown.set(variable, info);
  }

  // Adds, updates or (value null) removes the property `name`: read-only
  // for clients, it belongs to the plant.
  _setProperty(variable, name, dataType, value) {
    const existing = variable.getPropertyByName(name);
    if (value === null) {
      if (existing) this.addressSpace.deleteNode(existing);
      return;
    }
    const variant = new Variant({
      dataType: DataType.ExtensionObject,
      value: this.addressSpace.constructExtensionObject(dataType, value),
    });
    if (existing) {
      existing.setValueFromSource(variant, StatusCodes.Good);
      return;
    }
    this.namespace.addVariable({
      propertyOf: variable,
      nodeId: this._newPropertyId(),
      browseName: { name, namespaceIndex: 0 },
      typeDefinition: "PropertyType",
      dataType,
      valueRank: -1,
      accessLevel: "CurrentRead",
      userAccessLevel: "CurrentRead",
      minimumSamplingInterval: 0,
      value: variant,
    });
  }

  _newPropertyId() {
    let id;
    do {
      id = new NodeId(NodeIdType.NUMERIC, ++this.lastPropertyId, this.namespace.index);
    } while (this.addressSpace.findNode(id));
    return id;
  }
}

module.exports = { TagInfoNodes };
