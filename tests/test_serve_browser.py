# SPDX-License-Identifier: Apache-2.0
"""The console in a real browser: Debian's chromium, headless, driven by
playwright-core, against `corvane serve` with aiosmtpd and the loopback
whois server. It uploads two files and a field, finds them in Files,
downloads one and deletes the other, mails the first, looks a domain up,
uploads through the Gateway page and saves a screenshot of each page
(tests/browser/screenshots, or $CORVANE_SCREENSHOTS)."""

import email
import email.policy
import json
import os
import shutil
import tempfile
import unittest

from support.browser import BROWSER, run_script
from support.console import Console
from support.smtp_servers import RealSmtpServer
from support.whois_fixtures import DOMAIN_REPLY
from support.whois_server import WhoisServer

SHOTS = os.environ.get("CORVANE_SCREENSHOTS") or os.path.join(BROWSER,
                                                              "screenshots")


class ConsoleInBrowser(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="corvane-browser-")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.files = {"report.pdf": os.urandom(200000),
                      "notes.txt": b"first line\r\nsecond <line>\n"}
        for name, content in self.files.items():
            with open(os.path.join(self.scratch, name), "wb") as out:
                out.write(content)

    def test_upload_mail_and_whois_in_chromium(self):
        data = os.path.join(self.scratch, "var")
        with RealSmtpServer() as smtp, WhoisServer(DOMAIN_REPLY) as whois, \
                Console(data, "--threads", "8", smtp=smtp.address,
                        whois=whois.address) as console:
            run = run_script("console_tour.js", console.origin, SHOTS,
                             os.path.join(self.scratch, "report.pdf"),
                             os.path.join(self.scratch, "notes.txt"))
            if run.returncode == 3:
                self.skipTest(json.loads(run.stdout)["skip"])
            self.assertEqual(run.returncode, 0, run.stderr)
            shown = json.loads(run.stdout)
            envelopes = list(smtp.envelopes)

        self.assertEqual(shown["upload_code"], "1")
        self.assertIn("Two files <from the browser>", shown["upload_page"])
        with open(os.path.join(data, "uploads", "report.pdf"), "rb") as kept:
            self.assertEqual(kept.read(), self.files["report.pdf"])
        for name in self.files:
            self.assertIn(name, shown["files"])
        self.assertTrue(shown["download_same"])
        self.assertEqual(shown["download_name"], "report.pdf")
        self.assertEqual(shown["deleted"], "Deleted /uploads/notes.txt")
        self.assertEqual(shown["files_after"], ["report.pdf"])
        self.assertFalse(os.path.exists(os.path.join(data, "uploads",
                                                     "notes.txt")))
        self.assertEqual(shown["mail"], "Sent")
        self.assertEqual(len(envelopes), 1)
        message = email.message_from_bytes(envelopes[0].content,
                                           policy=email.policy.default)
        self.assertEqual(message["Subject"], "From the console")
        [attachment] = message.iter_attachments()
        self.assertEqual(attachment.get_filename(), "report.pdf")
        self.assertEqual(attachment.get_content(), self.files["report.pdf"])
        self.assertIn("WIDGET.ZZ", shown["whois"])
        self.assertIn("kim@widget.zz", shown["whois"])
        self.assertIn("ErrorCode 1: every file stored", shown["gateway"])
        self.assertIn("Through the gateway", shown["gateway"])
        with open(os.path.join(data, "gateway", "console", "notes.txt"),
                  "rb") as stored:
            self.assertEqual(stored.read(), self.files["notes.txt"])
        for page in ("index", "upload", "files", "mail", "whois", "gateway"):
            self.assertTrue(os.path.getsize(os.path.join(SHOTS, page + ".png")))


if __name__ == "__main__":
    unittest.main()
