# SPDX-License-Identifier: Apache-2.0
"""Corvane.SMTP against a real mail transfer agent: a private postfix
instance on a loopback port with its strict settings on (envelopes in angle
brackets, a qualified HELO, no 8-bit headers, no undeclared 8-bit bodies, no
bare line feeds). Messages with attachments, 8-bit names and several
recipients are accepted, delivered to every maildir, and read back part by
part."""

import email
import email.policy
import os
import tempfile
import unittest

from support.penrill import send_mail
from support.postfix import PrivatePostfix, can_run

RECIPIENTS = ["one@example.org", "two@example.org", "three@example.org",
              "hidden@example.org", "four@example.org", "five@example.org",
              "six@example.org"]
WHY_NOT = can_run()


@unittest.skipIf(WHY_NOT, "postfix cannot run here: %s" % WHY_NOT)
class StrictPostfix(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = PrivatePostfix(RECIPIENTS).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.folder.cleanup()

    def write(self, name, content):
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as out:
            out.write(content)
        return path

    def received(self, user, count=1):
        messages = self.server.delivered(user, count)
        self.assertEqual(len(messages), count, self.server.log_text()[-3000:])
        return [email.message_from_bytes(m, policy=email.policy.default)
                for m in messages]

    def test_attachments_8bit_names_and_every_recipient(self):
        binary = bytes(range(256)) * 40
        text = "Stra\u00dfe, \u20ac 12\r\n".encode() * 30
        latin = "caf\u00e9 cr\u00e8me\r\n".encode("latin-1")
        subject = "Gr\u00fc\u00dfe aus K\u00f6ln"
        [result] = send_mail([
            ("SMTP", self.server.address),
            ("MailFrom", "J\u00f6rg Sender <sender@sender.test>"),
            ("MailTo", "Ren\u00e9e One <one@example.org>"),
            ("MailTo", "two@example.org"),
            ("MailCc", "\"Three, \u00c5sa\" <three@example.org>"),
            ("MailBcc", "hidden@example.org"),
            ("MailSubject", subject),
            ("MailContent", "Body with 8 bits: \u00e4\u00f6\u00fc"),
            ("Attach", self.write("data.bin", binary)),
            ("Attach", self.write("notes.txt", text)),
            ("Attach", self.write("latin.txt", latin)),
            ("Attach", self.write("\u00dcbersicht.pdf", b"%PDF-1.4 tiny")),
        ])
        self.assertTrue(result.sent, "%r\n%s" % (
            result, self.server.log_text()[-3000:]))
        for user in ("one", "two", "three", "hidden"):
            [message] = self.received(user)
            self.assertEqual(message["Subject"], subject)
            self.assertEqual(message["From"].addresses[0].display_name,
                             "J\u00f6rg Sender")
            self.assertEqual(message["To"].addresses[0].display_name,
                             "Ren\u00e9e One")
            self.assertEqual(message["Cc"].addresses[0].display_name,
                             "Three, \u00c5sa")
            self.assertIsNone(message["Bcc"])
            body, first, second, third, fourth = message.get_payload()
            self.assertEqual(body.get_content().rstrip("\r\n"),
                             "Body with 8 bits: \u00e4\u00f6\u00fc")
            self.assertEqual(first.get_payload(decode=True), binary)
            self.assertEqual(second.get_payload(decode=True), text)
            self.assertEqual(second.get_content_type(), "text/plain")
            self.assertEqual(third.get_payload(decode=True), latin)
            self.assertEqual(fourth.get_filename(), "\u00dcbersicht.pdf")
            self.assertEqual(fourth.get_payload(decode=True), b"%PDF-1.4 tiny")

    def test_plain_page_with_long_address_lines(self):
        # Long To lines fold; the envelope and greeting satisfy the strict
        # checks with a page that sets none of the new properties.
        long_name = "Reader " + "x" * 480
        [result] = send_mail([
            ("SMTP", self.server.address),
            ("MailFrom", "sender@sender.test"),
            ("MailTo", "%s <four@example.org>" % long_name),
            ("MailTo", "%s <five@example.org>" % long_name),
            ("MailTo", "%s <six@example.org>" % long_name),
            ("MailSubject", "Plain"),
            ("MailContent", "plain text"),
        ])
        self.assertTrue(result.sent, "%r\n%s" % (
            result, self.server.log_text()[-3000:]))
        [message] = self.received("six")
        self.assertEqual(len(message["To"].addresses), 3)


if __name__ == "__main__":
    unittest.main()
