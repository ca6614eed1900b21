#!/usr/bin/env node
"use strict";

const { main } = require("../src/main");

main(process.argv.slice(2)).then(
  (code) => {
    if (code !== null) process.exit(code);
  },
  (err) => {
    process.stderr.write(`opcsim: ${err.stack || err}\n`);
    process.exit(1);
  },
);
