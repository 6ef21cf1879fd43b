# SPDX-License-Identifier: Apache-2.0
"""Corvane.SMTP and `corvane mail` against a real SMTP server (Debian's
aiosmtpd) on loopback: every recipient gets the message, the stored message
parses with Python's email package and its parts decode to what was sent."""

import email
import email.policy
import os
import subprocess
import tempfile
import unittest

from support.penrill import send_mail
from support.programs import program
from support.ports import ClosedPort
from support.smtp_servers import RealSmtpServer

# A loopback port held bound without listening: connections are refused.
REFUSING = ClosedPort()


def parse(envelope):
    return email.message_from_bytes(envelope.content,
                                    policy=email.policy.default)


class RealServerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.server = RealSmtpServer().__enter__()

    def tearDown(self):
        self.server.__exit__(None, None, None)
        self.folder.cleanup()

    def write(self, name, content):
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as out:
            out.write(content)
        return path

    def settings(self, *pairs):
        return [("SMTP", self.server.address),
                ("MailFrom", "Page Sender <sender@example.org>"),
                ("MailSubject", "Real delivery")] + list(pairs)


class Delivery(RealServerTest):
    def test_attachments_base64_body_and_every_recipient(self):
        binary = os.urandom(3001)
        report = bytes(range(256)) * 9
        to = ["One <one@example.org>", "two@example.org",
              "Three <three@example.org>"]
        cc = ["cc1@example.org", "Cc Two <cc2@example.org>"]
        bcc = "hidden@example.org"
        [result] = send_mail(self.settings(
            *[("MailTo", a) for a in to], *[("MailCc", a) for a in cc],
            ("MailBcc", bcc),
            ("MailContentEncode", "base64"),
            ("MailContent", "Body line one"), ("MailContent", "Zeile zwei"),
            ("Attach", self.write("data.bin", binary)),
            ("Attach", self.write("Report.pdf", report))))
        self.assertTrue(result.sent, result)
        [envelope] = self.server.envelopes
        self.assertEqual(envelope.mail_from, "sender@example.org")
        self.assertEqual(envelope.rcpt_tos, [
            "one@example.org", "two@example.org", "three@example.org",
            "cc1@example.org", "cc2@example.org", "hidden@example.org"])
        self.assertNotIn(b"hidden@example.org", envelope.content)
        message = parse(envelope)
        self.assertIsNone(message["Bcc"])
        self.assertEqual(message["To"], ", ".join(to))
        self.assertEqual(message["Cc"], ", ".join(cc))
        self.assertEqual(message["Subject"], "Real delivery")
        self.assertTrue(message.is_multipart())
        body, first, second = message.get_payload()
        self.assertEqual(body.get_payload(decode=True),
                         b"Body line one\r\nZeile zwei\r\n")
        self.assertEqual(first.get_filename(), "data.bin")
        self.assertEqual(first.get_payload(decode=True), binary)
        self.assertEqual(second.get_content_type(), "application/pdf")
        self.assertEqual(second.get_payload(decode=True), report)

    def test_the_boundary_inside_content_forges_no_part(self):
        boundary = "--------------862EE14B9F0BCE464FC45E01"
        forged = ("Dear customer\r\n%s\r\nContent-Type: text/html\r\n\r\n"
                  "<a href='http://evil.test'>pay</a>\r\n" % boundary)
        [result] = send_mail(self.settings(
            ("MailTo", "reader@example.org"),
            *[("MailContent", line) for line in forged.split("\r\n")],
            ("Attach", self.write("notes.txt", forged.encode())),
            ("Attach", self.write("photo.gif", b"GIF89a"))))
        self.assertTrue(result.sent, result)
        [envelope] = self.server.envelopes
        body, notes, photo = parse(envelope).get_payload()
        self.assertTrue(body.get_content().startswith(forged), body)
        self.assertEqual(notes.get_payload(decode=True), forged.encode())
        self.assertEqual(photo.get_content_type(), "image/gif")

    def test_hostile_names_and_long_subjects_arrive_as_given(self):
        # A quote in an attachment's name must not add parameters; a
        # subject longer than a line may be must be folded, not refused.
        name = 'invoice.txt"; filename="evil.exe'
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as out:
            out.write(b"due\r\n")
        words = " ".join("word%04d" % n for n in range(150))
        unbroken = "x" * 1200
        for subject in (words, unbroken):
            [result] = send_mail(self.settings(
                ("MailTo", "reader@example.org"), ("MailSubject", subject),
                ("MailContent", "see attachment"), ("Attach", path)))
            self.assertTrue(result.sent, result)
        for envelope, subject in zip(self.server.envelopes, (words, unbroken)):
            message = parse(envelope)
            self.assertEqual(message["Subject"], subject)
            _, attachment = message.get_payload()
            self.assertEqual(attachment.get_filename(), name)
            self.assertEqual(attachment.get_payload(decode=True), b"due\r\n")
            self.assertNotIn(b'filename="evil', envelope.content)

    def test_lines_that_begin_with_a_dot_arrive_intact(self):
        lines = [".hidden", ".", "..two dots", "last"]
        [result] = send_mail(self.settings(
            ("MailTo", "reader@example.org"),
            *[("MailContent", line) for line in lines]))
        self.assertTrue(result.sent, result)
        [envelope] = self.server.envelopes
        payload = parse(envelope).get_payload()
        self.assertTrue(payload.startswith("\r\n".join(lines) + "\r\n"),
                        payload)

    def test_slow_mode_gives_each_to_recipient_a_copy(self):
        [result] = send_mail(self.settings(
            ("MailTo", "A <a@example.org>"), ("MailTo", "b@example.org"),
            ("MailCc", "c@example.org"), ("SlowMode", True),
            ("MailContent", "slow")))
        self.assertTrue(result.sent, result)
        first, second, third = self.server.envelopes
        self.assertEqual(first.rcpt_tos, ["a@example.org"])
        self.assertEqual(parse(first)["To"], "A <a@example.org>")
        self.assertEqual(second.rcpt_tos, ["b@example.org"])
        self.assertEqual(parse(second)["To"], "b@example.org")
        self.assertEqual(third.rcpt_tos, ["c@example.org"])
        self.assertEqual(parse(third)["To"], "b@example.org")

    def test_send_log_gets_six_lines_per_send(self):
        log_dir = os.path.join(self.folder.name, "logs")
        os.mkdir(log_dir)
        sent, refused = send_mail(
            self.settings(("MailTo", "First <first@example.org>"),
                          ("LogEvent", True), ("MailContent", "logged")),
            sends=2, log_dir=log_dir)
        self.assertTrue(sent.sent)
        self.assertFalse(refused.sent)
        with open(os.path.join(log_dir, "SendMail.log"), "rb") as log:
            text = log.read()
        self.assertTrue(text.endswith(b"\r\n"))
        lines = text[:-2].split(b"\r\n")
        self.assertEqual(len(lines), 12, lines)
        self.assertRegex(lines[0].decode(),
                         r"^\d\d/\d\d/\d\d \d\d:\d\d:\d\d [AP]M$")
        self.assertEqual(lines[1:6], [
            b"To: First <first@example.org>",
            b"From: Page Sender <sender@example.org>",
            b"Subject: Real delivery", b"Status: Successful.", b" "])
        self.assertEqual(lines[7:12], [
            b"To: ", b"From: Page Sender <sender@example.org>",
            b"Subject: Real delivery",
            b"Status: SMTP Error: Please specify recipent.", b" "])


class MailCommand(RealServerTest):
    def run_mail(self, *arguments, env=None):
        environment = dict(os.environ, CORVANE_LOG_DIR=self.folder.name)
        environment.update(env or {})
        return subprocess.run([program("corvane"), "mail", *arguments],
                              capture_output=True, text=True, timeout=120,
                              env=environment)

    def test_sends_one_message(self):
        attachment = self.write("notes.txt", b"plain notes\r\n")
        body = self.write("body.txt", b"Hello from the command\n.dot line\n")
        result = self.run_mail(
            "--server", self.server.address, "--from", "cli@example.org",
            "--to", "a@example.org", "--to", "b@example.org",
            "--cc", "c@example.org", "--bcc", "d@example.org",
            "--subject", "From the command line", "--body-file", body,
            "--attach", attachment, "--log")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        [envelope] = self.server.envelopes
        self.assertEqual(envelope.rcpt_tos, ["a@example.org", "b@example.org",
                                             "c@example.org", "d@example.org"])
        message = parse(envelope)
        self.assertEqual(message["Subject"], "From the command line")
        text, notes = message.get_payload()
        self.assertEqual(text.get_payload(),
                         "Hello from the command\r\n.dot line\r\n")
        self.assertEqual(notes.get_payload(decode=True), b"plain notes\r\n")
        with open(os.path.join(self.folder.name, "SendMail.log"), "rb") as log:
            self.assertEqual(log.read().count(b"\r\n"), 6)

    def test_failure_exits_1_with_the_description(self):
        result = self.run_mail("--server", REFUSING.address,
                               "--from", "cli@example.org", "--to",
                               "a@example.org", "--subject", "x", "--body",
                               "y")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr,
                         "Unable to establish connection with SMTP Server. "
                         "Connection refused.\n")
        self.assertEqual(self.server.envelopes, [])


if __name__ == "__main__":
    unittest.main()
