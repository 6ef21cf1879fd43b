// SPDX-License-Identifier: Apache-2.0
// Node's Buffer Base64 (its vectorised codec) on SIZE random bytes: the
// median CPU time of encoding and of decoding, in GB/s of the bytes, as
// one JSON line.
"use strict";
const crypto = require("crypto");
const size = Number(process.argv[2] || 64 << 20);
const runs = Number(process.argv[3] || 9);
const bytes = crypto.randomBytes(size);
const text = bytes.toString("base64");
function median(values) {
  values.sort((a, b) => a - b);
  return values[Math.floor(values.length / 2)];
}
function rate(work) {
  const seconds = [];
  for (let i = 0; i < runs; ++i) {
    const start = process.cpuUsage();
    work();
    const used = process.cpuUsage(start);
    seconds.push((used.user + used.system) / 1e6);
  }
  return size / median(seconds) / 1e9;
}
const encode = rate(() => bytes.toString("base64"));
const decode = rate(() => Buffer.from(text, "base64"));
console.log(JSON.stringify({size, encode, decode}));
