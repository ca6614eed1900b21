"use strict";
// The class's plants: which program each trainee gets, its period, and the
// plant programs as child processes on the benchmark's gateway.

const fs = require("node:fs");
const path = require("node:path");
const { Program } = require("./program");

// The built-in programs run one period per second of plant time (their
// models keep the framework's default sampling time of 1 s).
const BUILT_IN = ["SISO", "Brinell", "Calder", "Fractor", "Dunmore", "Farrow"].map((program) => ({
  program,
  label: program,
  periodSeconds: 1,
}));

const PLANT_FILES = ["heat_exchanger.yaml", "level_loop.yaml", "shell_fractionator.yaml", "wood_berry.yaml"];

const SECONDS_PER_UNIT = { s: 1, min: 60, h: 3600 };

// Wall-clock seconds of one period at speed 1 from a plant file's top-level
// time_unit and sampling_time (the reader's defaults: s and 1). Only these two
// keys are read; varnok-plant itself checks the whole file.
function plantFilePeriod(text, file) {
  const unit = /^time_unit:\s*(\w+)/m.exec(text)?.[1] ?? "s";
  const sampling = /^sampling_time:\s*([^\s#]+)/m.exec(text)?.[1] ?? "1";
  if (!(unit in SECONDS_PER_UNIT)) throw new Error(`${file}: time_unit "${unit}" is not s, min or h`);
  const value = Number(sampling);
  if (!(value > 0)) throw new Error(`${file}: sampling_time "${sampling}" is not a positive number`);
  return value * SECONDS_PER_UNIT[unit];
}

// The mix for `count` plants on groups G01, G02, ...: the six built-in
// programs and a plant file in turn, the files themselves in turn.
function classMix(count, examplesDir) {
  const files = PLANT_FILES.map((name) => {
    const file = path.join(examplesDir, name);
    return { file, periodSeconds: plantFilePeriod(fs.readFileSync(file, "utf8"), file) };
  });
  const kinds = BUILT_IN.length + 1;
  const width = Math.max(2, String(count).length);
  const mix = [];
  for (let i = 0; i < count; i++) {
    const group = `G${String(i + 1).padStart(width, "0")}`;
    if (i % kinds < BUILT_IN.length) {
      mix.push({ ...BUILT_IN[i % kinds], group, args: [] });
    } else {
      const { file, periodSeconds } = files[Math.floor(i / kinds) % files.length];
      mix.push({ program: "varnok-plant", label: path.basename(file), periodSeconds, group, args: [file] });
    }
  }
  return mix;
}

// One plant program serving its group on the gateway.
class PlantProcess extends Program {
  constructor(plant, { binDir, gatewayPort, speed, onSpawn }) {
    const args = [...plant.args, "--host", "127.0.0.1", "--port", String(gatewayPort)];
    args.push("--group", plant.group, "--speed", String(speed));
    super(path.join(binDir, plant.program), args, { onSpawn });
    this.plant = plant;
    this.registered = false;
    this.gatewayTrouble = 0; // lines after registration saying a period or the gateway failed
  }

  heard(text) {
    if (this.registered && /^(Gateway|Task failed)/m.test(text)) this.gatewayTrouble++;
    if (!this.registered && this.output.includes(`Group ${this.plant.group} registered`)) this.registered = true;
  }
}

module.exports = { BUILT_IN, PLANT_FILES, plantFilePeriod, classMix, PlantProcess };
