// SPDX-License-Identifier: Apache-2.0
// Drives Debian's chromium through the console of `corvane serve`: uploads
// two files and a field, finds them in Files, downloads one and deletes the
// other, mails the first, looks a domain up, uploads through the Gateway
// page, and saves a screenshot of each page. Prints one JSON object with
// what the pages showed, or {"skip": reason} (exit status 3) when chromium
// cannot start. A console that wants a log-in is entered first through
// the address with its token, $CORVANE_CONSOLE_LOGIN.
// Usage: node console_tour.js CONSOLE_URL SCREENSHOT_DIR FILE1 FILE2
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { withChromium, runMain } = require("./chromium");

async function submit(page, button) {
  await Promise.all([page.waitForNavigation(), page.click(button)]);
}

async function tour(page, base, shots, first, second) {
  const shot = (name) => page.screenshot({
    path: path.join(shots, name + ".png"), fullPage: true });
  const result = {};

  // A console that wants a log-in printed this address with its token.
  if (process.env.CORVANE_CONSOLE_LOGIN) {
    await page.goto(process.env.CORVANE_CONSOLE_LOGIN);
  }
  await page.goto(base + "/");
  result.index = await page.textContent("main");
  await shot("index");

  await page.goto(base + "/upload");
  await page.setInputFiles("#files", [first, second]);
  await page.fill("#title", "Two files <from the browser>");
  // The console's script sends the form in the background and puts the
  // answer in place of the page.
  await page.click("#send");
  await page.waitForSelector("#outcome");
  result.upload_code = await page.textContent("#code");
  result.upload_page = await page.textContent("main");
  await shot("upload");

  await submit(page, "#in-files");
  result.files = await page.textContent("main");
  const item = (name) => `[data-item="uploads/${path.basename(name)}"]`;
  const [download] = await Promise.all([
    page.waitForEvent("download"), page.click("a.download" + item(first))]);
  const saved = path.join(os.tmpdir(), "console-download-" + process.pid);
  await download.saveAs(saved);
  result.download_name = download.suggestedFilename();
  result.download_same = fs.readFileSync(saved).equals(fs.readFileSync(first));
  fs.rmSync(saved, { force: true });
  await shot("files");
  await submit(page, "a.delete" + item(second));
  result.question = await page.textContent("#question");
  await submit(page, "#confirm button.delete");
  result.deleted = await page.textContent("#result");
  result.files_after = await page.$$eval(
    "span.file", (names) => names.map((name) => name.textContent));

  await page.goto(base + "/mail");
  await page.fill("#from", "console@example.test");
  await page.fill("#to", "reader@example.test");
  await page.fill("#subject", "From the console");
  await page.fill("#body", "The file is attached.\nSecond line.");
  await page.selectOption("#attach", path.basename(first));
  await submit(page, "#send");
  result.mail = await page.textContent("#result");
  await shot("mail");

  await page.goto(base + "/whois");
  await page.fill("#query", "widget.zz");
  await submit(page, "#send");
  result.whois = await page.textContent("#fields");
  await shot("whois");

  await page.goto(base + "/gateway/");
  await page.setInputFiles("#upload1", second);
  await page.fill("#caption", "Through the gateway");
  await Promise.all([
    page.waitForURL(/gateway\/result/), page.click("#send")]);
  result.gateway = await page.textContent("main");
  await shot("gateway");
  return result;
}

async function main() {
  const [base, shots, first, second] = process.argv.slice(2);
  fs.mkdirSync(shots, { recursive: true });
  await withChromium("console-chromium-", async (context) => {
    const page = await context.newPage();
    console.log(JSON.stringify(await tour(page, base, shots, first, second)));
  }, {
    viewport: { width: 1100, height: 800 }, acceptDownloads: true,
  });
}

runMain(main);
