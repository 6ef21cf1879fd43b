// SPDX-License-Identifier: Apache-2.0
// The one way the browser scripts start Debian's chromium: headless flags
// and, for a persistent context, a throw-away profile. When chromium cannot
// start at all it prints {"skip": reason} and exits with status 3; otherwise
// `run` does the script's work and the browser and its profile are gone
// afterwards, whatever happens.
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

const LAUNCH = { executablePath: "/usr/bin/chromium", headless: true, args: FLAGS };

function skip(error) {
  console.log(JSON.stringify({ skip: "chromium cannot start: " + error.message }));
  process.exit(3);
}

// `run(context)` in a persistent context with a profile of its own; `options`
// are the context's (viewport, bypassCSP, acceptDownloads...).
async function withChromium(profilePrefix, run, options = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), profilePrefix));
  let context;
  try {
    context = await chromium.launchPersistentContext(profile,
                                                     { ...LAUNCH, ...options });
  } catch (error) {
    fs.rmSync(profile, { recursive: true, force: true });
    skip(error);
  }
  try {
    return await run(context);
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

// `run(browser)` with a browser whose contexts the script makes itself.
async function withBrowser(run) {
  let browser;
  try {
    browser = await chromium.launch(LAUNCH);
  } catch (error) {
    skip(error);
  }
  try {
    return await run(browser);
  } finally {
    await browser.close();
  }
}

// Runs a script's async main; a failure is printed and exits with 1.
function runMain(main) {
  main().catch((error) => {
    console.error(error);
    process.exit(1);
  });
}

module.exports = { withChromium, withBrowser, runMain };
