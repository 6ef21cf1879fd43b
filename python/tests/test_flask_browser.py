# SPDX-License-Identifier: Apache-2.0
"""The example Flask application in Debian's chromium (playwright-core):
three files chosen at once go up and two are stored byte for byte, the
third refused by the extension list; the mail form reaches aiosmtpd and the
whois page shows the fields of the loopback whois server's answer."""

import json
import os
import shutil
import tempfile
import unittest

import binding_support as binding

binding.use_test_registry()
from support.browser import run_script  # noqa: E402
from support.whois_fixtures import DOMAIN_REPLY  # noqa: E402


class FlaskAppInBrowser(unittest.TestCase):
    def test_upload_mail_and_whois(self):
        scratch = tempfile.mkdtemp(prefix="corvane-flask-browser-")
        self.addCleanup(shutil.rmtree, scratch, True)
        files = {"photo.png": os.urandom(300_000),
                 "notes.txt": "líne\r\n".encode() * 5000,
                 "setup.exe": b"MZ" * 100}
        paths = []
        for name, data in files.items():
            paths.append(os.path.join(scratch, name))
            with open(paths[-1], "wb") as out:
                out.write(data)
        with binding.ExampleApp(1_000_000, ["png", "txt"],
                                DOMAIN_REPLY) as app:
            run = run_script("flask_app.js", app.origin,
                             "reader@example.test", "widget.zz", *paths)
            if run.returncode == 3:
                self.skipTest(json.loads(run.stdout)["skip"])
            self.assertEqual(run.returncode, 0, run.stderr)
            shown = json.loads(run.stdout)
            for name in ("photo.png", "notes.txt"):
                with open(os.path.join(app.folder, name), "rb") as stored:
                    self.assertEqual(stored.read(), files[name], name)
            self.assertEqual(sorted(os.listdir(app.folder)),
                             ["notes.txt", "photo.png"])
            envelopes = app.smtp.envelopes

        self.assertEqual(shown["upload_code"], "-6")
        self.assertEqual(sorted(shown["stored"]),
                         ["notes.txt (35000 bytes)",
                          "photo.png (300000 bytes)"])
        self.assertEqual(shown["mail"], "Sent.")
        self.assertEqual(envelopes[-1].rcpt_tos, ["reader@example.test"])
        self.assertIn(b"Subject: Sent from chromium", envelopes[-1].content)
        whois = dict(zip(shown["whois"][::2], shown["whois"][1::2]))
        self.assertEqual(whois["DomainName"], "WIDGET.ZZ")
        self.assertEqual(whois["AdministrativeEmail"], "jan@widget.zz")


if __name__ == "__main__":
    unittest.main()
