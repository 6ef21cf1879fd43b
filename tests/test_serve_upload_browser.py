# SPDX-License-Identifier: Apache-2.0
"""The Upload and Mail pages in Debian's chromium (playwright-core) with the
console's own script under the pages' Content-Security-Policy: three files
dropped on the form go up with progress events and are stored byte for byte;
a selection over the limit is stopped and kept; a refused file and a mail
server that is down lose nothing typed; the page still stores files with
scripts off; axe-core finds nothing serious at 1280 and 375 px."""

import json
import os
import shutil
import socket
import tempfile
import unittest

from support.browser import BROWSER, run_script
from support.console import Console

SHOTS = os.environ.get("CORVANE_SCREENSHOTS") or os.path.join(BROWSER,
                                                              "screenshots")
DROPPED = {"a.pdf": (3000000, 97), "b.png": (2000000, 98),
           "c.txt": (1000, 99)}


class UploadInBrowser(unittest.TestCase):
    def test_drop_progress_and_nothing_lost(self):
        scratch = tempfile.mkdtemp(prefix="corvane-upload-browser-")
        self.addCleanup(shutil.rmtree, scratch, True)
        data = os.path.join(scratch, "var")
        with socket.socket() as closed:
            closed.bind(("127.0.0.1", 0))
            server = "127.0.0.1:%d" % closed.getsockname()[1]
            with Console(data, "--max-body", str(8 * 1024 * 1024),
                         "--upload-ext", "pdf,png,txt",
                         smtp=server) as console:
                run = run_script("console_upload.js", console.origin, SHOTS)
        if run.returncode == 3:
            self.skipTest(json.loads(run.stdout)["skip"])
        self.assertEqual(run.returncode, 0, run.stderr)
        shown = json.loads(run.stdout)

        self.assertEqual(shown["enhanced"], "1")
        self.assertEqual(shown["csp_refusals"], [])
        self.assertEqual(shown["too_big"],
                         "Not sent: these files come to 9 MiB; the console "
                         "takes at most 8 MiB at once.")
        self.assertEqual(shown["too_big_kept"], [1, "Dropped <files>"])
        # The console's answer, or, when it closed the connection before
        # the browser read it, the broken connection.
        self.assertIn(shown["refused_by_console"], (
            "Not sent: The request body is larger than the console takes: "
            "at most 8 MiB (8388608 bytes) at once. Everything chosen and "
            "typed is still here.",
            "Not sent: the connection to the console broke. Everything "
            "chosen and typed is still here."))
        self.assertEqual(shown["refused_kept"], [1, "Dropped <files>", False])
        self.assertEqual(shown["chosen"],
                         "3 files chosen: a.pdf, b.png, c.txt")
        self.assertGreaterEqual(shown["progress_events"], 2)
        self.assertTrue(any(text.endswith("/s") and " of 4.8 MiB sent" in text
                            for text in shown["status_texts"]),
                        shown["status_texts"])
        self.assertTrue(shown["same_page"])
        self.assertEqual(shown["outcome"],
                         "3 files stored in uploads/: a.pdf, b.png, c.txt.")
        self.assertEqual(shown["title_kept"], "Dropped <files>")
        self.assertEqual(shown["enhanced_again"], "1")
        for name, (size, byte) in DROPPED.items():
            with open(os.path.join(data, "uploads", name), "rb") as stored:
                self.assertEqual(stored.read(), bytes([byte]) * size, name)
        self.assertEqual(shown["refused"],
                         "report.exe was refused: the extension .exe is not "
                         "allowed.")
        self.assertEqual(shown["refused_title"], "Refused one")
        self.assertEqual(shown["mail"], f"Not sent: the mail server at "
                                        f"{server} refused the connection.")
        self.assertEqual(shown["mail_kept"], [
            "kim@example.test", "reader@example.test", "Figures & <notes>",
            "Line one\nLine \"two\"", "a.pdf"])
        self.assertEqual(shown["without_script"],
                         "3 files stored in uploads/: x.txt, y.txt, z.txt.")
        self.assertEqual(shown["findings"], {})
        self.assertTrue(os.path.getsize(
            os.path.join(SHOTS, "upload-progress-1280.png")))
        for name in ("upload-drop", "upload-result", "mail-failed"):
            for width in (1280, 375):
                self.assertTrue(os.path.getsize(
                    os.path.join(SHOTS, f"{name}-{width}.png")))


if __name__ == "__main__":
    unittest.main()
