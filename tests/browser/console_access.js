// SPDX-License-Identifier: Apache-2.0
// Drives Debian's chromium to the console of `corvane serve` as a newcomer:
// refused without the token, logged in by typing the token and, after
// logging out, by a user name and password; then every page at 1280 and
// 375 px wide, in the light and the dark colour scheme, checked by axe-core
// and for sideways scrolling, with a screenshot of each. Prints one JSON
// object, or {"skip": reason} (exit status 3) when chromium cannot start.
// Usage: node console_access.js CONSOLE_URL TOKEN USER PASSWORD SHOT_DIR
"use strict";

const fs = require("fs");
const path = require("path");
const { audit } = require("./audit");
const { withChromium, runMain } = require("./chromium");
const WIDTHS = [1280, 375];
const SCHEMES = ["light", "dark"];

async function submit(page, button) {
  await Promise.all([page.waitForNavigation(), page.click(button)]);
}

// Each page at each width and colour scheme: the axe findings and whether
// it scrolls sideways, by "name width scheme".
async function survey(page, base, shots, pages) {
  const findings = {};
  const sideways = [];
  for (const width of WIDTHS) {
    await page.setViewportSize({ width, height: 800 });
    for (const scheme of SCHEMES) {
      await page.emulateMedia({ colorScheme: scheme });
      for (const [name, address] of pages) {
        await page.goto(base + address);
        const key = `${name} ${width} ${scheme}`;
        if (await page.evaluate(() =>
          document.documentElement.scrollWidth > window.innerWidth)) {
          sideways.push(key);
        }
        const serious = await audit(page);
        if (serious.length) findings[key] = serious;
        if (scheme === "light") {
          await page.screenshot({
            path: path.join(shots, `${name}-${width}.png`), fullPage: true });
        }
      }
    }
  }
  return { findings, sideways };
}

async function tour(page, base, token, user, password, shots) {
  const result = {};
  let answer = await page.goto(base + "/files");
  result.refused = answer.status();
  result.login_fields = await page.$$eval(
    "#login input:not([type=hidden])", (inputs) => inputs.map((i) => i.id));
  result.login = await survey(page, base, shots, [["login", "/files"]]);

  await page.fill("#token", "not-the-token");
  await submit(page, "#log-in");
  result.wrong_token = await page.textContent("#refusal");
  await page.fill("#token", token);
  await submit(page, "#log-in");
  result.after_token = new URL(page.url()).pathname;
  result.current = await page.getAttribute("a[aria-current=page]", "href");
  await submit(page, "#log-out");
  result.after_log_out = new URL(page.url()).pathname;

  await page.fill("#user", user);
  await page.fill("#password", password);
  await submit(page, "#log-in");
  result.after_user = new URL(page.url()).pathname;

  await page.goto(base + "/whois");
  await page.fill("#query", "widget.zz");
  await submit(page, "#send");
  result.whois = await page.textContent("#summary");
  const pages = [
    ["index", "/"], ["upload", "/upload"], ["files", "/files"],
    ["mail", "/mail"], ["whois", "/whois"], ["gateway", "/gateway/"],
    ["gateway-result",
     "/gateway/result?ErrorCode=1&filenum=1&Du=9000&fn1=a%20very%20long%20" +
     "name%20of%20an%20uploaded%20file%20without%20breaks.pdf&fl1=20000" +
     "&caption=Holiday"],
    ["missing", "/nothing-here"],
  ];
  Object.assign(result, await survey(page, base, shots, pages));
  // The whois answer, folded reply and all, as a person gets it.
  await page.emulateMedia({ colorScheme: "light" });
  for (const width of WIDTHS) {
    await page.setViewportSize({ width, height: 800 });
    await page.goto(base + "/whois");
    await page.fill("#query", "widget.zz");
    await submit(page, "#send");
    await page.screenshot({
      path: path.join(shots, `whois-answer-${width}.png`), fullPage: true });
    await page.click("#reply summary");
    if (await page.evaluate(() =>
      document.documentElement.scrollWidth > window.innerWidth)) {
      result.sideways.push(`whois answer ${width}`);
    }
    const serious = await audit(page);
    if (serious.length) result.findings[`whois answer ${width}`] = serious;
  }
  Object.assign(result.findings, result.login.findings);
  result.sideways.push(...result.login.sideways);
  delete result.login;
  return result;
}

async function main() {
  const [base, token, user, password, shots] = process.argv.slice(2);
  fs.mkdirSync(shots, { recursive: true });
  await withChromium("console-chromium-", async (context) => {
    const page = await context.newPage();
    console.log(JSON.stringify(
      await tour(page, base, token, user, password, shots)));
  }, {
    viewport: { width: 1280, height: 800 },
  });
}

runMain(main);
