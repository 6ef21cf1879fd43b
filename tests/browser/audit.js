// SPDX-License-Identifier: Apache-2.0
// The accessibility check of the browser scripts: axe-core's WCAG 2.1 AA and
// best-practice rules on the page shown, run through the browser's debugging
// protocol so that the pages' Content-Security-Policy need not let it in.
"use strict";

const axe = require("axe-core");

// The serious and critical findings: [{id, impact, nodes}].
async function audit(page) {
  await page.evaluate(axe.source);
  const found = await page.evaluate(async () => {
    const result = await window.axe.run(document, {
      runOnly: { type: "tag", values: ["wcag2a", "wcag2aa", "wcag21aa",
                                       "best-practice"] },
    });
    return result.violations.map((violation) => ({
      id: violation.id, impact: violation.impact,
      nodes: violation.nodes.map((node) => node.target.join(" ")),
    }));
  });
  return found.filter((v) => v.impact === "serious" ||
                             v.impact === "critical");
}

module.exports = { audit };
