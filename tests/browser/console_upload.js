// SPDX-License-Identifier: Apache-2.0
// Drives Debian's chromium through the Upload and Mail pages of
// `corvane serve` with the console's own script at work under the pages'
// Content-Security-Policy: drops three files on the Upload page and sends
// them with a progress bar, is stopped before sending more than the
// console takes and keeps the choice, stores a file without any script,
// and sends mail to a server that is down, keeping what was typed. Checks
// the pages with axe-core at 1280 and 375 px and saves screenshots. Prints
// one JSON object, or {"skip": reason} (exit status 3) when chromium
// cannot start.
// Usage: node console_upload.js CONSOLE_URL SHOT_DIR
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { audit } = require("./audit");
const { withBrowser, runMain } = require("./chromium");

// name: [size, byte]; the console stores each file as `size` bytes `byte`.
const DROPPED = { "a.pdf": [3000000, 97], "b.png": [2000000, 98],
                  "c.txt": [1000, 99] };

// Drops files made in the page (name: [size, byte]) on `selector`.
async function drop(page, selector, files) {
  const transfer = await page.evaluateHandle((files) => {
    const transfer = new DataTransfer();
    for (const [name, [size, byte]] of Object.entries(files)) {
      transfer.items.add(new File([new Uint8Array(size).fill(byte)], name));
    }
    return transfer;
  }, files);
  await page.dispatchEvent(selector, "dragover", { dataTransfer: transfer });
  await page.dispatchEvent(selector, "drop", { dataTransfer: transfer });
}

// Every text the upload's status line shows, collected as it changes.
async function watchStatus(page) {
  await page.evaluate(() => {
    window.statusTexts = [];
    const status = document.querySelector("form[data-upload] [role=status]");
    new MutationObserver(() => window.statusTexts.push(status.textContent))
      .observe(status, { childList: true, characterData: true, subtree: true });
  });
}

async function tour(page, base, shots, findings) {
  const result = {};
  const check = async (name) => {
    for (const width of [1280, 375]) {
      await page.setViewportSize({ width, height: 800 });
      const serious = await audit(page);
      if (serious.length) findings[`${name} ${width}`] = serious;
      await page.screenshot({
        path: path.join(shots, `${name}-${width}.png`), fullPage: true });
    }
    await page.setViewportSize({ width: 1280, height: 800 });
  };
  if (process.env.CORVANE_CONSOLE_LOGIN) {
    await page.goto(process.env.CORVANE_CONSOLE_LOGIN);
  }

  await page.goto(base + "/upload");
  result.enhanced = await page.getAttribute("#upload", "data-enhanced");
  await check("upload-drop");

  // Too much for the console: refused before sending, nothing lost.
  await page.fill("#title", "Dropped <files>");
  await drop(page, "main", { "big.txt": [9 * 1024 * 1024, 120] });
  await page.click("#send");
  result.too_big = await page.textContent("#upload [role=status]");
  result.too_big_kept = await page.evaluate(() => [
    document.querySelector("#files").files.length,
    document.querySelector("#title").value]);

  // The same sent anyway (the page's limit taken away): the console
  // refuses it, and still nothing is lost.
  await page.evaluate(() => { delete document.querySelector("#upload").dataset.maxBytes; });
  await page.click("#send");
  await page.waitForSelector("#upload [role=status]:has-text('Not sent')");
  result.refused_by_console = await page.textContent("#upload [role=status]");
  result.refused_kept = await page.evaluate(() => [
    document.querySelector("#files").files.length,
    document.querySelector("#title").value,
    document.querySelector("#send").disabled]);

  // Three files dropped and sent in the background, over a link slowed to
  // 4 MiB/s so that the progress shows more than once.
  const link = await page.context().newCDPSession(page);
  await link.send("Network.enable");
  await link.send("Network.emulateNetworkConditions", {
    offline: false, latency: 0, downloadThroughput: -1,
    uploadThroughput: 4 * 1024 * 1024 });
  await drop(page, "#upload", DROPPED);
  result.chosen = await page.textContent("#upload [role=status]");
  await watchStatus(page);
  const form = await page.$("#upload");
  await page.evaluate(() => { window.samePage = true; });
  await page.click("#send");
  await page.waitForSelector("#upload [role=status]:has-text(' sent, ')");
  await page.screenshot({ path: path.join(shots, "upload-progress-1280.png") });
  await page.waitForSelector("#outcome");
  result.progress_events = Number(
    await form.evaluate((f) => f.dataset.progressEvents));
  result.status_texts = await page.evaluate(() => window.statusTexts);
  result.same_page = await page.evaluate(() => window.samePage === true);
  result.outcome = await page.textContent("#outcome");
  await link.send("Network.emulateNetworkConditions", {
    offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: -1 });
  result.title_kept = await page.inputValue("#title");
  result.enhanced_again = await page.getAttribute("#upload", "data-enhanced");
  await check("upload-result");

  // A refused file: the answer replaces the page and keeps the fields.
  await page.fill("#title", "Refused one");
  await drop(page, "#upload", { "report.exe": [10, 1] });
  await page.click("#send");
  await page.waitForSelector("#outcome:has-text('was refused')");
  result.refused = await page.textContent("#outcome");
  result.refused_title = await page.inputValue("#title");

  // The mail server is down: everything typed comes back.
  await page.goto(base + "/mail");
  await page.fill("#from", "kim@example.test");
  await page.fill("#to", "reader@example.test");
  await page.fill("#subject", "Figures & <notes>");
  await page.fill("#body", "Line one\nLine \"two\"");
  await page.selectOption("#attach", "a.pdf");
  await Promise.all([page.waitForNavigation(), page.click("#send")]);
  result.mail = await page.textContent("#result");
  result.mail_kept = await page.evaluate(() => ["from", "to", "subject", "body"]
    .map((id) => document.getElementById(id).value)
    .concat(Array.from(document.querySelector("#attach").selectedOptions,
                       (option) => option.value)));
  await check("mail-failed");
  return result;
}

// The Upload page without any script: one input, three files.
async function withoutScript(browser, base, files) {
  const context = await browser.newContext({ javaScriptEnabled: false });
  try {
    const page = await context.newPage();
    if (process.env.CORVANE_CONSOLE_LOGIN) {
      await page.goto(process.env.CORVANE_CONSOLE_LOGIN);
    }
    await page.goto(base + "/upload");
    await page.setInputFiles("#files", files);
    await Promise.all([page.waitForNavigation(), page.click("#send")]);
    return await page.textContent("#outcome");
  } finally {
    await context.close();
  }
}

async function main() {
  const [base, shots] = process.argv.slice(2);
  fs.mkdirSync(shots, { recursive: true });
  await withBrowser(async (browser) => {
    const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "console-upload-"));
    try {
      const context = await browser.newContext({
        viewport: { width: 1280, height: 800 } });
      const page = await context.newPage();
      const refused = [];
      page.on("console", (message) => {
        if (/Content.Security.Policy/i.test(message.text())) {
          refused.push(message.text());
        }
      });
      const findings = {};
      const result = await tour(page, base, shots, findings);
      result.findings = findings;
      result.csp_refusals = refused;
      const plain = ["x.txt", "y.txt", "z.txt"].map((name) => {
        fs.writeFileSync(path.join(scratch, name), name);
        return path.join(scratch, name);
      });
      result.without_script = await withoutScript(browser, base, plain);
      console.log(JSON.stringify(result));
    } finally {
      fs.rmSync(scratch, { recursive: true, force: true });
    }
  });
}

runMain(main);
