# SPDX-License-Identifier: Apache-2.0
"""The Files page in Debian's chromium (playwright-core): a folder of 2,000
files sorted by size and paged, a download resumed by a range, a rename, a
delete through its confirmation page, and axe-core on the listing and the confirmation at
1280 and 375 px, with screenshots (tests/browser/screenshots, or
$CORVANE_SCREENSHOTS)."""

import json
import os
import shutil
import tempfile
import unittest

from support.browser import BROWSER, run_script
from support.console import Console

SHOTS = os.environ.get("CORVANE_SCREENSHOTS") or os.path.join(BROWSER,
                                                              "screenshots")


class FilesInBrowser(unittest.TestCase):
    def test_sort_page_rename_and_confirm_a_delete(self):
        scratch = tempfile.mkdtemp(prefix="corvane-files-browser-")
        self.addCleanup(shutil.rmtree, scratch, True)
        data = os.path.join(scratch, "var")
        many = os.path.join(data, "many")
        os.makedirs(os.path.join(many, "folder"))
        for number in range(2000):
            with open(os.path.join(many, f"f{number:04}.txt"), "wb") as out:
                out.write(b"x" * number)
        with Console(data) as console:
            run = run_script("console_files.js", console.origin, "many",
                             SHOTS)
        if run.returncode == 3:
            self.skipTest(json.loads(run.stdout)["skip"])
        self.assertEqual(run.returncode, 0, run.stderr)
        shown = json.loads(run.stdout)

        self.assertEqual(shown["first"][:3], ["folder/", "f0000.txt",
                                              "f0001.txt"])
        self.assertEqual(len(shown["first"]), 200)
        self.assertIn("2001 entries, 1 to 200 shown", shown["count"])
        self.assertEqual(shown["sort"], "descending")
        self.assertEqual(shown["by_size"][:3], ["folder/", "f1999.txt",
                                                "f1998.txt"])
        self.assertEqual(shown["second_page"][0], "f1800.txt")
        self.assertIn("sort=size&order=desc&page=2", shown["second_address"])
        self.assertEqual(shown["back"], shown["by_size"])
        # Sorted by size, the first file linked is the largest, f1999.txt (1,999 bytes): its
        # last 999 come again, and only those.
        self.assertEqual(shown["resume"], {
            "whole": 1999, "status": 206, "range": "bytes 1000-1998/1999",
            "tail": 999, "same": True})
        self.assertEqual(shown["renamed"],
                         "many/f0001.txt is now many/renamed.txt.")
        self.assertIn("Delete the file many/f0002.txt?", shown["question"])
        self.assertEqual(shown["deleted"], "many/f0002.txt was deleted.")
        self.assertTrue(os.path.exists(os.path.join(many, "renamed.txt")))
        self.assertFalse(os.path.exists(os.path.join(many, "f0001.txt")))
        self.assertFalse(os.path.exists(os.path.join(many, "f0002.txt")))
        self.assertEqual(shown["findings"], {})
        self.assertEqual(shown["sideways"], [])
        for name in ("files-listing", "files-confirm"):
            for width in (1280, 375):
                self.assertTrue(os.path.getsize(
                    os.path.join(SHOTS, f"{name}-{width}.png")))


if __name__ == "__main__":
    unittest.main()
