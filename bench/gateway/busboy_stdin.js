// SPDX-License-Identifier: Apache-2.0
// Busboy as a CGI program would run it: the body is read from standard
// input (64 KiB reads) and every file is written with a write stream into
// the directory given. Prints nothing; exits when every file is closed.
// Usage: node busboy_stdin.js CONTENT_TYPE DIRECTORY < BODY
"use strict";

const busboy = require("busboy");
const fs = require("fs");
const path = require("path");

const [type, target] = process.argv.slice(2);
const parser = busboy({ headers: { "content-type": type } });
const written = [];
const fields = [];
parser.on("file", (name, stream, info) => {
  const out = fs.createWriteStream(path.join(target, path.basename(info.filename)));
  written.push(new Promise((done, fail) => {
    out.on("close", done);
    out.on("error", fail);
  }));
  stream.pipe(out);
});
parser.on("field", (name, value) => fields.push([name, value]));
parser.on("close", () => Promise.all(written).then(() => process.exit(0)));
parser.on("error", (error) => { console.error(error); process.exit(1); });
fs.createReadStream(null, { fd: 0, highWaterMark: 64 * 1024 }).pipe(parser);
