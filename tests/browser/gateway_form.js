// SPDX-License-Identifier: Apache-2.0
// Drives Debian's chromium through a Wharfpost upload form: loads the form,
// sets the cookies, chooses two files, submits and waits for the result
// page. Prints one JSON object: {"url": ..., "outcome": ...}, or
// {"skip": reason} (exit status 3) when chromium cannot start at all.
// Usage: node gateway_form.js FORM_URL COOKIES_JSON FILE1 FILE2
"use strict";

const { withChromium, runMain } = require("./chromium");

async function main() {
  const [formUrl, cookiesJson, first, second] = process.argv.slice(2);
  await withChromium("wharfpost-chromium-", async (context) => {
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
  });
}

runMain(main);
