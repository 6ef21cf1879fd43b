# SPDX-License-Identifier: Apache-2.0
"""A real browser posts a Wharfpost form: Debian's chromium, headless,
driven by playwright-core (installed by npm into tests/browser from its
committed lock file), loads a form served by lighttpd, chooses two files,
submits, follows the redirect to the result page and reads the outcome from
it; the stored files are compared with the chosen ones."""

import json
import os
import subprocess
import unittest

from support.browser import BROWSER, install_playwright
from support.gateway_servers import Lighttpd
from support.wharfpost import Installation

FORM = """<!DOCTYPE html>
<html><body>
<form method="post" action="/cgi-bin/wharfpost" enctype="multipart/form-data">
  <input type="file" name="upload1" id="upload1">
  <input type="file" name="upload2" id="upload2">
  <input type="text" name="caption" value="From the browser">
  <button type="submit" id="send">Upload</button>
</form>
</body></html>
"""

# The result page shows what the redirect carried.
RESULT = """<!DOCTYPE html>
<html><body><p id="outcome"></p>
<script>
  const query = new URLSearchParams(location.search);
  const files = [];
  for (let n = 1; n <= Number(query.get("filenum")); n++) {
    files.push(query.get("fn" + n) + ":" + query.get("fl" + n));
  }
  document.getElementById("outcome").textContent =
    "code " + query.get("ErrorCode") + "; " + files.join(", ") +
    "; caption " + query.get("caption");
</script></body></html>
"""


class BrowserTest(unittest.TestCase):
    def setUp(self):
        install_playwright()
        self.site = Installation("FileTypesAllowed=png,txt\n")
        self.addCleanup(self.site.remove)
        forms = os.path.join(self.site.www, "forms")
        os.mkdir(forms)
        for name, text in (("form.html", FORM), ("Wharfposted.asp", RESULT)):
            with open(os.path.join(forms, name), "w") as out:
                out.write(text)
        self.chosen = os.path.join(self.site.top, "chosen")
        os.mkdir(self.chosen)
        self.contents = {"picture.png": os.urandom(300000),
                         "notes.txt": b"first line\r\nsecond line\n"}
        for name, content in self.contents.items():
            with open(os.path.join(self.chosen, name), "wb") as out:
                out.write(content)

    def test_form_upload_in_chromium(self):
        with Lighttpd(self.site) as server:
            run = subprocess.run(
                ["node", os.path.join(BROWSER, "gateway_form.js"),
                 server.url("/forms/form.html"),
                 json.dumps([["WharfpostToWhere", "browser/up"],
                             ["UserDiskQuota", "1000000"]]),
                 os.path.join(self.chosen, "picture.png"),
                 os.path.join(self.chosen, "notes.txt")],
                capture_output=True, text=True, timeout=180)
        if run.returncode == 3:
            self.skipTest(json.loads(run.stdout)["skip"])
        self.assertEqual(run.returncode, 0, run.stderr)
        answer = json.loads(run.stdout)
        self.assertTrue(answer["url"].startswith(
            server.url("/forms/Wharfposted.asp?ErrorCode=1&filenum=2&Du=")))
        self.assertEqual(answer["outcome"],
                         "code 1; picture.png:300000, notes.txt:24; "
                         "caption From the browser")
        self.assertEqual(self.site.names("browser/up"), sorted(self.contents))
        for name, content in self.contents.items():
            self.assertEqual(self.site.read("browser/up/" + name), content)


if __name__ == "__main__":
    unittest.main()
