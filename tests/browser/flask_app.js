// SPDX-License-Identifier: Apache-2.0
// Drives Debian's chromium through the example Flask application: chooses
// several files on the upload page and sends them, sends the mail form and
// looks up a domain. Prints one JSON object with what each page showed, or
// {"skip": reason} (exit status 3) when chromium cannot start at all.
// Usage: node flask_app.js ORIGIN TO_ADDRESS DOMAIN FILE...
"use strict";

const { withChromium, runMain } = require("./chromium");

async function main() {
  const [origin, to, domain, ...files] = process.argv.slice(2);
  await withChromium("flask-chromium-", async (context) => {
    const page = await context.newPage();
    const shown = {};

    await page.goto(origin + "/");
    await page.setInputFiles("input[name=files]", files);
    await page.fill("input[name=note]", "from chromium");
    await Promise.all([page.waitForURL(/\/upload$/), page.click("button")]);
    shown.upload_code = await page.getAttribute("#result", "data-code");
    shown.stored = await page.$$eval("#files li", (items) =>
      items.map((item) => item.textContent));

    await page.goto(origin + "/mail");
    await page.fill("input[name=to]", to);
    await page.fill("input[name=subject]", "Sent from chromium");
    await page.fill("textarea[name=text]", "one\ntwo");
    await Promise.all([page.waitForLoadState(), page.click("button")]);
    await page.waitForSelector("#result");
    shown.mail = await page.textContent("#result");

    await page.goto(origin + "/whois");
    await page.fill("input[name=q]", domain);
    await Promise.all([page.waitForURL(/q=/), page.click("button")]);
    shown.whois = await page.$$eval("#result dt, #result dd", (cells) =>
      cells.map((cell) => cell.textContent));

    console.log(JSON.stringify(shown));
  });
}

runMain(main);
