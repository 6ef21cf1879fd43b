// SPDX-License-Identifier: Apache-2.0
// The one way the browser scripts start Debian's chromium: a throw-away
// profile and headless flags. When chromium cannot start at all it prints
// {"skip": reason} and exits with status 3; otherwise `run(context)` does
// the script's work and the profile is removed afterwards, whatever happens.
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { chromium } = require("playwright-core");

const FLAGS = [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
  "--no-first-run", "--disable-background-networking",
  "--disable-component-update", "--disable-sync",
];

async function withChromium(profilePrefix, run) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), profilePrefix));
  let context;
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: "/usr/bin/chromium", headless: true, args: FLAGS,
    });
  } catch (error) {
    fs.rmSync(profile, { recursive: true, force: true });
    console.log(JSON.stringify({ skip: "chromium cannot start: " + error.message }));
    process.exit(3);
  }
  try {
    return await run(context);
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

// Runs a script's async main; a failure is printed and exits with 1.
function runMain(main) {
  main().catch((error) => {
    console.error(error);
    process.exit(1);
  });
}

module.exports = { FLAGS, withChromium, runMain };
