// SPDX-License-Identifier: Apache-2.0
// Drives Debian's chromium through the Files page of `corvane serve` on a
// folder of many files: sorts by size both ways, goes to another page and
// back, resumes a download by a range, renames a file, deletes one through the confirmation page, checks
// the listing and the confirmation with axe-core at 1280 and 375 px and
// saves their screenshots. Prints one JSON object with what the pages
// showed, or {"skip": reason} (exit status 3) when chromium cannot start.
// A console that wants a log-in is entered first through the address with
// its token, $CORVANE_CONSOLE_LOGIN.
// Usage: node console_files.js CONSOLE_URL FOLDER SCREENSHOT_DIR
"use strict";

const fs = require("fs");
const path = require("path");
const { audit } = require("./audit");
const { withChromium, runMain } = require("./chromium");

async function follow(page, selector) {
  await Promise.all([page.waitForNavigation(), page.click(selector)]);
}

// The names the listing shows, in order.
function names(page) {
  return page.$$eval("#listing tr td:first-child",
                     (cells) => cells.map((cell) => cell.textContent));
}

async function tour(page, base, folder, shots) {
  const result = { findings: {}, sideways: [] };
  if (process.env.CORVANE_CONSOLE_LOGIN) {
    await page.goto(process.env.CORVANE_CONSOLE_LOGIN);
  }
  const listing = "/files?path=" + encodeURIComponent(folder);
  await page.goto(base + listing);
  result.first = await names(page);
  result.count = await page.textContent("#count");

  // Size, then size again: the largest first; the pages keep that order.
  await follow(page, "#listing th:nth-child(2) a");
  await follow(page, "#listing th:nth-child(2) a");
  result.by_size = await names(page);
  result.sort = await page.getAttribute("#listing th:nth-child(2)",
                                        "aria-sort");
  await follow(page, "nav.pages a[rel=next]");
  result.second_page = await names(page);
  result.second_address = page.url();
  await follow(page, "nav.pages a[rel=prev]");
  result.back = await names(page);

  // A download as the listing links it, then its second half asked again
  // as a browser resumes one: a range, with If-Range naming the version
  // the browser holds.
  await page.goto(base + listing + "&sort=size&order=desc");
  const link = await page.getAttribute("#listing a.download", "href");
  result.resume = await page.evaluate(async (address) => {
    const whole = await fetch(address);
    const bytes = new Uint8Array(await whole.arrayBuffer());
    const rest = await fetch(address, { headers: {
      Range: "bytes=1000-", "If-Range": whole.headers.get("ETag") } });
    const tail = new Uint8Array(await rest.arrayBuffer());
    return { whole: bytes.length, status: rest.status,
             range: rest.headers.get("Content-Range"), tail: tail.length,
             same: tail.every((byte, at) => byte === bytes[1000 + at]) };
  }, base + link);

  await page.goto(base + listing);
  await follow(page, `a.rename[data-item="${folder}/f0001.txt"]`);
  await page.fill("#to", folder + "/renamed.txt");
  await follow(page, "#rename button");
  result.renamed = await page.textContent("#result");

  await follow(page, `a.delete[data-item="${folder}/f0002.txt"]`);
  result.question = await page.textContent("#question");
  const pages = [["files-listing", listing], ["files-confirm", page.url()]];
  await follow(page, "#confirm button.delete");
  result.deleted = await page.textContent("#result");

  for (const width of [1280, 375]) {
    await page.setViewportSize({ width, height: 800 });
    for (const [name, address] of pages) {
      await page.goto(address.startsWith("http") ? address : base + address);
      const key = `${name} ${width}`;
      if (await page.evaluate(() =>
        document.documentElement.scrollWidth > window.innerWidth)) {
        result.sideways.push(key);
      }
      const serious = await audit(page);
      if (serious.length) result.findings[key] = serious;
      await page.screenshot({
        path: path.join(shots, `${name}-${width}.png`), fullPage: width < 400 });
    }
  }
  return result;
}

async function main() {
  const [base, folder, shots] = process.argv.slice(2);
  fs.mkdirSync(shots, { recursive: true });
  await withChromium("console-chromium-", async (context) => {
    const page = await context.newPage();
    console.log(JSON.stringify(await tour(page, base, folder, shots)));
  }, {
    viewport: { width: 1280, height: 800 },
  });
}

runMain(main);
