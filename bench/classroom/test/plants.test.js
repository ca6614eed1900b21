"use strict";
// The class's mix of plants and the periods of plant files.

const { test } = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { BUILT_IN, PLANT_FILES, plantFilePeriod, classMix } = require("../plants");

const examples = path.resolve(__dirname, "..", "..", "..", "examples", "plants");

test("plantFilePeriod reads the top-level time_unit and sampling_time", () => {
  const cases = [
    ["name: x\n", 1],
    ["time_unit: min\nsampling_time: 0.1    # 6 s\n", 6],
    ["sampling_time: 2.5\n", 2.5],
    ["time_unit: h\n", 3600],
    ["inputs:\n  U: {time_unit: min}\nsampling_time: 1.0\n", 1], // only top-level keys
  ];
  for (const [text, seconds] of cases) assert.equal(plantFilePeriod(text, "f.yaml"), seconds, text);
  assert.throws(() => plantFilePeriod("time_unit: day\n", "f.yaml"), /f.yaml: time_unit "day" is not s, min or h/);
  assert.throws(() => plantFilePeriod("sampling_time: 0\n", "f.yaml"), /f.yaml: sampling_time "0" is not a positive/);
});

test("classMix gives every program and every example file in turn, one group each", () => {
  const mix = classMix(50, examples);
  assert.equal(new Set(mix.map((p) => p.group)).size, 50);
  assert.deepEqual([mix[0].group, mix[49].group], ["G01", "G50"]);
  const count = (label) => mix.filter((p) => p.label === label).length;
  for (const { program } of BUILT_IN) assert.ok(count(program) >= 7, program);
  for (const file of PLANT_FILES) assert.ok(count(file) >= 1, file);
  const woodBerry = mix.find((p) => p.label === "wood_berry.yaml");
  assert.deepEqual([woodBerry.program, woodBerry.periodSeconds], ["varnok-plant", 60]);
  assert.equal(classMix(120, examples)[119].group, "G120");
});
