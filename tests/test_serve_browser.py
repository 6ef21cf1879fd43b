# SPDX-License-Identifier: Apache-2.0
"""The console in a real browser: Debian's chromium, headless, driven by
playwright-core, against `corvane serve` with aiosmtpd and the loopback
whois server. It uploads two files and a field, finds them in Files,
downloads one and deletes the other, mails the first, looks a domain up,
uploads through the Gateway page and saves a screenshot of each page
(tests/browser/screenshots, or $CORVANE_SCREENSHOTS). A newcomer is refused
without the token, logs in with it and with a named account, and every page
passes axe-core and fits 375 px as well as 1280 px, light and dark."""

import email
import email.policy
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from support.browser import BROWSER, run_script
from support.console import Console
from support.programs import program
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
        self.assertIn("Delete the file uploads/notes.txt?", shown["question"])
        self.assertEqual(shown["deleted"], "uploads/notes.txt was deleted.")
        self.assertEqual(shown["files_after"], ["report.pdf"])
        self.assertFalse(os.path.exists(os.path.join(data, "uploads",
                                                     "notes.txt")))
        self.assertEqual(shown["mail"], "Sent to reader@example.test.")
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

    def test_log_in_and_every_page_at_two_widths_with_axe(self):
        users = os.path.join(self.scratch, "users")
        subprocess.run([program("corvane"), "serve", "--users", users,
                        "--add-user", "alice"], input="open sesame\n",
                       text=True, check=True, capture_output=True)
        with WhoisServer(DOMAIN_REPLY) as whois, \
                Console(os.path.join(self.scratch, "var"), "--users", users,
                        whois=whois.address) as console:
            token = console.login_url.split("token=")[1]
            run = run_script("console_access.js", console.url(""), token,
                             "alice", "open sesame", SHOTS)
        if run.returncode == 3:
            self.skipTest(json.loads(run.stdout)["skip"])
        self.assertEqual(run.returncode, 0, run.stderr)
        shown = json.loads(run.stdout)
        self.assertEqual(shown["refused"], 401)
        self.assertEqual(shown["login_fields"], ["token", "user", "password"])
        self.assertIn("not the console's access token", shown["wrong_token"])
        self.assertEqual(shown["after_token"], "/files")
        self.assertEqual(shown["current"], "/files")
        self.assertEqual(shown["after_log_out"], "/login")
        self.assertEqual(shown["after_user"], "/")
        self.assertIn("Found a record for widget.zz", shown["whois"])
        self.assertEqual(shown["findings"], {})
        self.assertEqual(shown["sideways"], [])
        for name in ("login", "index", "files", "whois-answer"):
            for width in (1280, 375):
                self.assertTrue(os.path.getsize(
                    os.path.join(SHOTS, f"{name}-{width}.png")))


if __name__ == "__main__":
    unittest.main()
