# SPDX-License-Identifier: Apache-2.0
"""The console's Mail and Upload pages as a person uses them: whatever was
typed comes back in the form after a send, whether it went or not; the
result is one plain sentence with the component's numbers under Details;
several files go in one input, a refused one is named with its reason, and
an upload may keep an existing file beside the new one."""

import html
import os
import re
import shutil
import socket
import tempfile
import unittest

from support.console import Console
from support.smtp_servers import RealSmtpServer, ScriptedSmtpServer

TYPED = {"from": "kim@example.test", "to": "a@example.test",
         "cc": "", "bcc": "", "subject": 'Q3 "figures" & <notes>',
         "body": "First line\r\nSecond & <last> line"}


def outcome(page, id_="outcome"):
    found = re.search(rf'<p class="(ok|error)" id="{id_}">(.*?)</p>', page)
    return found and (found.group(1), html.unescape(found.group(2)))


def field(page, name):
    """The value a text input or textarea of the page holds."""
    found = re.search(rf'name="{name}" id="{name}" value="([^"]*)"', page) \
        or re.search(rf'<textarea name="{name}"[^>]*>(.*?)</textarea>',
                     page, re.S)
    return found and html.unescape(found.group(1))


class MailPage(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="corvane-pages-")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        os.makedirs(os.path.join(self.scratch, "var", "uploads"))
        with open(os.path.join(self.scratch, "var", "uploads", "a.txt"),
                  "w") as text:
            text.write("attached")

    def assert_form_kept(self, page):
        for name, value in TYPED.items():
            self.assertEqual(field(page, name), value, name)
        self.assertIn('<option value="a.txt" selected>', page)
        self.assertNotIn('type="password"', page)
        self.assertNotIn("&amp;quot;", page)
        self.assertNotIn("&lt;br&gt;", page)

    def test_a_refused_connection_keeps_everything_typed(self):
        # Bound but not listening: connections are refused, and no other
        # server can take the port meanwhile.
        with socket.socket() as closed:
            closed.bind(("127.0.0.1", 0))
            server = "127.0.0.1:%d" % closed.getsockname()[1]
            with Console(os.path.join(self.scratch, "var"),
                         smtp=server) as console:
                status, page = console.post(
                    "/mail", {**TYPED, "attach": ["a.txt"]})
        self.assertEqual(status, 200)
        self.assertEqual(outcome(page, "result"), (
            "error", f"Not sent: the mail server at {server} refused the "
                     "connection."))
        details = page.split("<summary>Details</summary>", 1)[1]
        self.assertIn("Error -2147221500 from Penrill.SMTP: Unable to "
                      "establish connection", details)
        # What the component wrote, one line, escaped once; no internal
        # folder of the console.
        self.assertRegex(details, r"<pre>Unable to establish connection[^<]*"
                                  r"</pre>")
        self.assertNotIn("/mail-", page)
        self.assert_form_kept(page)

    def test_a_sent_message_keeps_the_form_and_names_the_recipients(self):
        with RealSmtpServer() as smtp, \
                Console(os.path.join(self.scratch, "var"),
                        smtp=smtp.address) as console:
            status, page = console.post("/mail", {
                **TYPED, "attach": ["a.txt"], "bcc": "b@example.test"})
            self.assertEqual(len(smtp.envelopes), 1)
        self.assertEqual(status, 200)
        self.assertEqual(outcome(page, "result"), (
            "ok", "Sent to a@example.test and b@example.test."))
        self.assertEqual(field(page, "bcc"), "b@example.test")
        self.assert_form_kept(page.replace(
            'value="b@example.test"', 'value=""'))

    def test_refused_recipients_are_listed_and_partial_sends_to_the_rest(self):
        def refuse_second(event, count):
            if event == "RCPT" and count == 2:
                return b"550 5.1.1 <b@example.test>: no such user\r\n"
            return None

        for partial in ("", "1"):
            with ScriptedSmtpServer(refuse_second) as smtp, \
                    Console(os.path.join(self.scratch, "var"),
                            smtp=smtp.address) as console:
                status, page = console.post("/mail", {
                    **TYPED, "bcc": "b@example.test", "partial": partial})
                delivered = len(smtp.messages)
            self.assertEqual(status, 200)
            refused = re.search(r'<h2>Refused recipients</h2>.*?</table>',
                                page, re.S)
            self.assertIsNotNone(refused, partial)
            self.assertIn("b@example.test", refused.group(0))
            self.assertIn("550 5.1.1", refused.group(0))
            if partial:
                self.assertEqual(delivered, 1)
                self.assertEqual(outcome(page, "result"), (
                    "ok", "Sent to a@example.test. The server refused the "
                    "others."))
                self.assertIn('name="partial" id="partial" value="1" '
                              'checked', page)
            else:
                self.assertEqual(delivered, 0)
                self.assertEqual(outcome(page, "result"), (
                    "error", f"Not sent: the mail server at {smtp.address} "
                    'answered "550 5.1.1 <b@example.test>: no such user".'))
                self.assertNotIn(" checked", page)

    def test_a_bad_address_is_named_in_the_sentence(self):
        with Console(os.path.join(self.scratch, "var"),
                     smtp="127.0.0.1:9") as console:
            status, page = console.post("/mail", {
                "from": "kim@example.test", "to": "not an address",
                "subject": "s"})
        self.assertEqual(outcome(page, "result"), (
            "error", 'Not sent: To holds something that is not an address: '
                     '"not an address".'))
        self.assertEqual(field(page, "to"), "not an address")


class UploadPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="corvane-pages-")
        cls.data = os.path.join(cls.scratch, "var")
        cls.console = Console(cls.data, "--max-body", str(1024 * 1024),
                              "--upload-ext", "pdf,png,txt").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.console.__exit__(None, None, None)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def upload(self, files, **fields):
        status, page = self.console.post(
            "/upload", fields, [("file", name, data) for name, data in files])
        self.assertEqual(status, 200)
        return page

    def stored(self, name):
        with open(os.path.join(self.data, "uploads", name), "rb") as data:
            return data.read()

    def test_several_files_in_one_input_and_a_refused_one(self):
        page = self.upload([("a.pdf", b"%PDF"), ("b.png", b"\x89PNG"),
                            ("c.txt", b"text")], title="three")
        self.assertEqual(outcome(page), (
            "ok", "3 files stored in uploads/: a.pdf, b.png, c.txt."))
        self.assertEqual(self.stored("b.png"), b"\x89PNG")

        page = self.upload([("report.exe", b"MZ"), ("d.txt", b"d")],
                           title="with <one> refused", note="kept\r\ntoo")
        self.assertEqual(outcome(page), (
            "error", "1 file stored in uploads/: d.txt. report.exe was "
                     "refused: the extension .exe is not allowed."))
        self.assertIn('<strong id="code">-6</strong>', page)
        self.assertEqual(field(page, "title"), "with <one> refused")
        self.assertEqual(field(page, "note"), "kept\r\ntoo")
        self.assertFalse(os.path.exists(
            os.path.join(self.data, "uploads", "report.exe")))

    def test_keep_both_numbers_the_new_file_and_replace_replaces(self):
        self.upload([("same.txt", b"first")])
        self.upload([("same.txt", b"second")], existing="keep")
        page = self.upload([("same.txt", b"third"), ("other.txt", b"o")],
                           existing="keep")
        self.assertEqual(outcome(page)[1],
                         "2 files stored in uploads/: same (3).txt, "
                         "other.txt. same.txt was there already; the new "
                         "one is same (3).txt.")
        self.assertIn('value="keep" id="keep" checked', page)
        self.assertEqual([self.stored(n) for n in
                          ("same.txt", "same (2).txt", "same (3).txt")],
                         [b"first", b"second", b"third"])
        page = self.upload([("same.txt", b"fourth")], existing="replace")
        self.assertEqual(outcome(page),
                         ("ok", "1 file stored in uploads/: same.txt."))
        self.assertEqual(self.stored("same.txt"), b"fourth")
        # Nothing of the staging is left behind.
        self.assertEqual(
            [n for n in os.listdir(os.path.join(self.data, "uploads"))
             if n.startswith(".")], [])

    def over_the_limit(self, cookie):
        """The answer to the head of an upload over the limit: the console
        answers before any body is read."""
        with socket.create_connection(("127.0.0.1", self.console.port)) as s:
            s.sendall((f"POST /upload HTTP/1.1\r\nHost: 127.0.0.1:"
                       f"{self.console.port}\r\nOrigin: {self.console.origin}"
                       f"\r\nCookie: {cookie}\r\nContent-Type: "
                       f"multipart/form-data; boundary=x\r\nContent-Length: "
                       f"{1024 * 1024 + 1}\r\n\r\n").encode())
            return s.makefile("rb").read().decode()

    def test_an_upload_over_the_limit_says_the_limit_over_the_form(self):
        answer = self.over_the_limit(self.console.cookie)
        self.assertTrue(answer.startswith("HTTP/1.1 413 "), answer)
        self.assertIn("at most 1 MiB (1048576 bytes) at once", answer)
        # The form comes again, to send fewer files at once.
        self.assertIn('<p class="error" id="refusal">', answer)
        self.assertIn('id="files" multiple', answer)
        self.assertIn(f'name="form_token" value="{self.console.form_token}"',
                      answer)
        # Without a session: the refusal alone.
        answer = self.over_the_limit("session=stranger")
        self.assertTrue(answer.startswith("HTTP/1.1 413 "), answer)
        self.assertNotIn('id="files"', answer)

    def test_the_script_is_served_for_every_page(self):
        _, page = self.console.get("/upload")
        self.assertIn('<form method="post" action="/upload" '
                      'enctype="multipart/form-data" id="upload" data-upload',
                      page)
        path = re.search(r'<script src="(/console\.js\?v=\w+)" defer>',
                         page).group(1)
        status, script, headers = self.console.request("GET", path)
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"],
                         "text/javascript; charset=utf-8")
        self.assertIn("immutable", headers["Cache-Control"])
        self.assertIn("default-src 'self'",
                      headers["Content-Security-Policy"])
        self.assertIn("form[data-upload]", script)
        self.assertEqual(self.console.request("GET", "/console.js")[2]
                         ["Cache-Control"], "no-cache")


if __name__ == "__main__":
    unittest.main()
