// SPDX-License-Identifier: Apache-2.0
// Drives Debian's chromium through a Wharfpost upload form: loads the form,
// sets the cookies, chooses two files, submits and waits for the result
// page. Prints one JSON object: {"url": ..., "outcome": ...}, or
// {"skip": reason} (exit status 3) when chromium cannot start at all.
// Usage: node gateway_form.js FORM_URL COOKIES_JSON FILE1 FILE2
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

async function main() {
  const [formUrl, cookiesJson, first, second] = process.argv.slice(2);
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "wharfpost-chromium-"));
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
    const origin = new URL(formUrl).origin;
    await context.addCookies(JSON.parse(cookiesJson).map(
      ([name, value]) => ({ name, value, url: origin })));
    const page = await context.newPage();
    await page.goto(formUrl);
    await page.setInputFiles("#upload1", first);
    await page.setInputFiles("#upload2", second);
    await Promise.all([
      page.waitForURL(/Wharfposted\.asp/),
      page.click("#send"),
    ]);
    await page.waitForSelector("#outcome:not(:empty)");
    const outcome = await page.textContent("#outcome");
    console.log(JSON.stringify({ url: page.url(), outcome }));
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
