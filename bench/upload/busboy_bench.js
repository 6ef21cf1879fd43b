// SPDX-License-Identifier: Apache-2.0
// Busboy on the same bodies as upload_bench: each body is fed from memory in
// 64 KiB chunks (as a socket delivers it), every file is written with a
// write stream into a scratch directory under /tmp.
// Usage: node busboy_bench.js BODIES SCRATCH NAME...
// Prints one JSON object: {"NAME": {"bytes_per_second": N, "runs": R}, ...}.
"use strict";

const busboy = require("busboy");
const fs = require("fs");
const path = require("path");
const { Readable } = require("stream");

const CHUNK = 64 * 1024;
// Runs per body, the same as upload_bench.cpp.
const RUNS = { one_file: 6, text_fields: 20, small_files: 5 };

function* chunks(body) {
  for (let i = 0; i < body.length; i += CHUNK) yield body.subarray(i, i + CHUNK);
}

// Parses one body and keeps what Cargane keeps for a page: a record per
// stored file (name, field, length), the text fields in order and their
// values by name without regard to case.
function parseOnce(body, type, target) {
  return new Promise((resolve, reject) => {
    const parser = busboy({ headers: { "content-type": type } });
    const written = [];
    const files = [];
    const formItems = [];
    const form = new Map();
    parser.on("file", (name, stream, info) => {
      const out = fs.createWriteStream(
        path.join(target, path.basename(info.filename)));
      written.push(new Promise((done, fail) => {
        out.on("close", () => {
          files.push({ name: info.filename, field: name,
                       length: out.bytesWritten });
          done();
        });
        out.on("error", fail);
      }));
      stream.pipe(out);
    });
    parser.on("field", (name, value) => {
      formItems.push({ name, value });
      form.set(name.toLowerCase(), value);
    });
    parser.on("error", reject);
    parser.on("close", () =>
      Promise.all(written).then(
        () => resolve({ files, formItems, form }), reject));
    Readable.from(chunks(body), { objectMode: false }).pipe(parser);
  });
}

// A fresh directory per run. ext4 slows the creation of files right after
// many deletions, so nothing is deleted here (compare.py removes the
// directories when both benchmarks are done); the files of a finished run
// are truncated instead, which hands their page-cache pages back.
function freshDirectory(parent, run) {
  const directory = path.join(parent, String(run));
  fs.mkdirSync(directory, { recursive: true });
  return directory;
}

function truncateFiles(directory) {
  for (const name of fs.readdirSync(directory)) {
    fs.truncateSync(path.join(directory, name), 0);
  }
}

async function measure(bodies, scratch, name, runs) {
  const body = fs.readFileSync(path.join(bodies, name + ".body"));
  const type = fs.readFileSync(path.join(bodies, name + ".type"), "utf8");
  const target = path.join(scratch, "busboy-" + name);
  let seconds = 0;
  for (let run = 0; run <= runs; run += 1) {
    const directory = freshDirectory(target, run);
    const start = process.hrtime.bigint();
    await parseOnce(body, type, directory);
    const elapsed = Number(process.hrtime.bigint() - start) / 1e9;
    truncateFiles(directory);
    if (run > 0) seconds += elapsed;  // the first run warms up
  }
  return { bytes_per_second: (body.length * runs) / seconds, runs };
}

async function main() {
  const [bodies, scratch, ...names] = process.argv.slice(2);
  const results = {};
  for (const name of names) {
    results[name] = await measure(bodies, scratch, name, RUNS[name]);
  }
  console.log(JSON.stringify(results));
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
