# SPDX-License-Identifier: Apache-2.0
"""The browser tests' driver: playwright-core and axe-core installed by npm
into tests/browser from its committed lock file, playwright pointed at
Debian's chromium (no browser is downloaded)."""

import os
import subprocess

from support.console import LOGIN_URLS

BROWSER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                       "browser")
PACKAGES = ("playwright-core", "axe-core")


def install_playwright():
    if not all(os.path.isdir(os.path.join(BROWSER, "node_modules", package))
               for package in PACKAGES):
        subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--silent"],
                       cwd=BROWSER, check=True,
                       env={**os.environ,
                            "PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD": "1"})


def run_script(name, *arguments, timeout=300):
    """Runs tests/browser/NAME with node; the completed process. When an
    argument is the origin of a running console that wants a log-in, the
    script finds the address with its token in CORVANE_CONSOLE_LOGIN."""
    install_playwright()
    environment = dict(os.environ)
    for argument in arguments:
        if argument in LOGIN_URLS:
            environment["CORVANE_CONSOLE_LOGIN"] = LOGIN_URLS[argument]
    return subprocess.run(["node", os.path.join(BROWSER, name), *arguments],
                          capture_output=True, text=True, timeout=timeout,
                          env=environment)
