# SPDX-License-Identifier: Apache-2.0
"""The browser tests' driver: playwright-core installed by npm into
tests/browser from its committed lock file, pointed at Debian's chromium
(no browser is downloaded)."""

import os
import subprocess

BROWSER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                       "browser")


def install_playwright():
    if not os.path.isdir(os.path.join(BROWSER, "node_modules",
                                      "playwright-core")):
        subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--silent"],
                       cwd=BROWSER, check=True,
                       env={**os.environ,
                            "PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD": "1"})


def run_script(name, *arguments, timeout=300):
    """Runs tests/browser/NAME with node; the completed process."""
    install_playwright()
    return subprocess.run(["node", os.path.join(BROWSER, name), *arguments],
                          capture_output=True, text=True, timeout=timeout)
