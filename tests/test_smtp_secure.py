# SPDX-License-Identifier: Apache-2.0
"""Corvane.SMTP with encryption and logins: STARTTLS and TLS from the first
byte against aiosmtpd holding a certificate the test makes, AUTH PLAIN and
LOGIN, certificate checks, the exact EHLO/STARTTLS/AUTH dialogue against the
scripted server, and `corvane mail` with its security options."""

import base64
import email
import email.policy
import os
import subprocess
import tempfile
import unittest

from support.certificates import make_certificate, server_context
from support.penrill import send_mail
from support.programs import program
from support.smtp_servers import RealSmtpServer, ScriptedSmtpServer

REPLY_ERROR = -2147221499
CONNECTION_ERROR = -2147221500
LOGINS = {"fred": "s3cr3t pass"}
SECURE_ERROR = "Unable to establish a secure connection with SMTP Server. "


def parse(envelope):
    return email.message_from_bytes(envelope.content,
                                    policy=email.policy.default)


class Certificates(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.cert, cls.key = make_certificate(cls.folder.name)
        cls.other_cert, cls.other_key = make_certificate(
            cls.folder.name, "elsewhere.test", ("DNS:elsewhere.test",),
            stem="other")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def settings(self, server, *pairs, ca=True, user="fred",
                 password="s3cr3t pass", security="starttls"):
        values = [("SMTP", server.address), ("Security", security),
                  ("MailFrom", "J\u00f6rg Sender <sender@example.org>"),
                  ("MailSubject", "Gr\u00fc\u00dfe \u2013 secure"),
                  ("MailTo", "One <one@example.org>"),
                  ("MailCc", "Ren\u00e9e <two@example.org>"),
                  ("MailContent", "Hello over TLS")]
        if ca:
            values.append(("TlsCAFile", self.cert))
        if user:
            values += [("AuthUser", user), ("AuthPassword", password)]
        return values + list(pairs)

    def write(self, name, content):
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as out:
            out.write(content)
        return path


class SecureDelivery(Certificates):
    def check_delivered(self, server, attachments=()):
        [envelope] = server.envelopes
        self.assertEqual(envelope.mail_from, "sender@example.org")
        self.assertEqual(envelope.rcpt_tos,
                         ["one@example.org", "two@example.org"])
        message = parse(envelope)
        self.assertEqual(message["Subject"], "Gr\u00fc\u00dfe \u2013 secure")
        self.assertEqual(message["From"].addresses[0].display_name,
                         "J\u00f6rg Sender")
        self.assertEqual(message["Cc"].addresses[0].display_name,
                         "Ren\u00e9e")
        return message

    def test_starttls_with_auth_plain(self):
        with RealSmtpServer(server_context(self.cert, self.key),
                            logins=LOGINS, require_starttls=True) as server:
            [result] = send_mail(self.settings(server))
        self.assertTrue(result.sent, result)
        self.check_delivered(server)
        self.assertEqual(server.logins_seen, [("PLAIN", "fred")])

    def test_starttls_with_auth_login_only_and_attachments(self):
        binary = os.urandom(5000)
        text = "Z\u00fcrich \u20ac\r\n".encode() * 50
        with RealSmtpServer(server_context(self.cert, self.key),
                            logins=LOGINS, exclude_auth=["PLAIN"]) as server:
            [result] = send_mail(self.settings(
                server, ("Attach", self.write("data.bin", binary)),
                ("Attach", self.write("K\u00f6ln.txt", text))))
        self.assertTrue(result.sent, result)
        self.assertEqual(server.logins_seen, [("LOGIN", "fred")])
        message = self.check_delivered(server)
        body, first, second = message.get_payload()
        self.assertEqual(first.get_payload(decode=True), binary)
        self.assertEqual(second.get_filename(), "K\u00f6ln.txt")
        self.assertEqual(second.get_payload(decode=True), text)

    def test_implicit_tls(self):
        with RealSmtpServer(server_context(self.cert, self.key),
                            implicit_tls=True) as server:
            [result] = send_mail(self.settings(
                server, ("AddMessageID", True), security="tls", user=None))
        self.assertTrue(result.sent, result)
        message = self.check_delivered(server)
        self.assertRegex(message["Message-ID"], r"^<[0-9a-f.]+@[^@<> ]+>$")

    def test_wrong_password_fails_with_the_reply(self):
        with RealSmtpServer(server_context(self.cert, self.key),
                            logins=LOGINS) as server:
            [result] = send_mail(self.settings(server, password="wrong"))
        self.assertFalse(result.sent)
        self.assertEqual(result.number, REPLY_ERROR)
        self.assertTrue(result.description.startswith(
            "Unexpected response: 535"), result)
        self.assertEqual(server.envelopes, [])
        self.assertNotIn("wrong", result.page)

    def test_required_starttls_not_offered_sends_nothing(self):
        with RealSmtpServer(logins=LOGINS) as server:
            [result] = send_mail(self.settings(server))
        self.assertFalse(result.sent)
        self.assertEqual((result.number, result.description), (
            CONNECTION_ERROR, SECURE_ERROR +
            "The server does not offer STARTTLS."))
        self.assertEqual(server.logins_seen, [])
        self.assertEqual(server.envelopes, [])

    def test_certificates_are_checked(self):
        cases = [
            ("untrusted", self.cert, self.key, False,
             "self-signed certificate"),
            ("another name", self.other_cert, self.other_key, True,
             "address mismatch"),
        ]
        for what, cert, key, trusted, reason in cases:
            with self.subTest(what), RealSmtpServer(
                    server_context(cert, key), logins=LOGINS) as server:
                settings = self.settings(server, ca=False)
                if trusted:
                    settings.append(("TlsCAFile", cert))
                [result] = send_mail(settings)
                self.assertFalse(result.sent)
                self.assertEqual(result.number, CONNECTION_ERROR)
                self.assertIn(reason, result.description)
                self.assertTrue(result.description.startswith(SECURE_ERROR))
                self.assertEqual(server.logins_seen, [])
                self.assertEqual(server.envelopes, [])

    def test_untrusted_certificate_accepted_with_its_ca_file(self):
        with RealSmtpServer(server_context(self.cert, self.key),
                            logins=LOGINS) as server:
            [result] = send_mail(self.settings(server, ca=True))
        self.assertTrue(result.sent, result)

    def test_no_verify_accepts_a_certificate_for_another_name(self):
        with RealSmtpServer(server_context(self.other_cert, self.other_key),
                            logins=LOGINS) as server:
            [result] = send_mail(self.settings(server, ("TlsVerify", False),
                                               ca=False))
        self.assertTrue(result.sent, result)


class ScriptedDialogue(Certificates):
    def test_exact_starttls_and_auth_dialogue(self):
        with ScriptedSmtpServer(
                tls_context=server_context(self.cert, self.key)) as server:
            [result] = send_mail(self.settings(server))
        self.assertTrue(result.sent, result)
        [message] = server.messages
        token = base64.b64encode(b"\0fred\0s3cr3t pass")
        self.assertEqual(server.received,
                         b"EHLO [127.0.0.1]\r\nSTARTTLS\r\n"
                         b"EHLO [127.0.0.1]\r\nAUTH PLAIN " + token + b"\r\n"
                         b"MAIL FROM:<sender@example.org>\r\n"
                         b"RCPT TO:<one@example.org>\r\n"
                         b"RCPT TO:<two@example.org>\r\n"
                         b"DATA\r\n" + message + b".\r\n"
                         b"MAIL FROM:<sender@example.org>\r\n"
                         b"QUIT\r\n")

    def test_auth_login_dialogue(self):
        ehlo = b"250-scripted.test\r\n250 AUTH LOGIN\r\n"
        answers = {"AUTH": b"334 VXNlcm5hbWU6\r\n",
                   "LINE": None}
        lines = iter([b"334 UGFzc3dvcmQ6\r\n", b"235 ok\r\n"])

        def script(event, count):
            if event == "EHLO":
                return ehlo
            if event == "LINE":
                return next(lines)
            return answers.get(event)

        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(self.settings(server, security=""))
        self.assertTrue(result.sent, result)
        self.assertTrue(server.received.startswith(
            b"EHLO [127.0.0.1]\r\nAUTH LOGIN\r\n" + base64.b64encode(b"fred") +
            b"\r\n" + base64.b64encode(b"s3cr3t pass") + b"\r\n"
            b"MAIL FROM:<sender@example.org>\r\n"), server.received)

    def test_helo_follows_a_refused_ehlo_when_nothing_is_required(self):
        script = lambda event, n: b"502 EHLO not here\r\n" \
            if event == "EHLO" else None
        with ScriptedSmtpServer(
                script, tls_context=server_context(self.cert, self.key),
                implicit_tls=True) as server:
            [result] = send_mail(self.settings(server, security="tls",
                                               user=None))
        self.assertTrue(result.sent, result)
        self.assertTrue(server.received.startswith(
            b"EHLO [127.0.0.1]\r\nHELO [127.0.0.1]\r\n"
            b"MAIL FROM:<sender@example.org>\r\n"), server.received)


class MailCommandSecurity(Certificates):
    def test_starttls_login_from_the_command_line(self):
        password = self.write("password", b"s3cr3t pass\n")
        with RealSmtpServer(server_context(self.cert, self.key),
                            logins=LOGINS) as server:
            result = subprocess.run(
                [program("corvane"), "mail", "--server", server.address,
                 "--from", "cli@example.org", "--to", "a@example.org",
                 "--subject", "secure", "--body", "hello",
                 "--security", "starttls", "--user", "fred",
                 "--password-file", password, "--ca-file", self.cert,
                 "--message-id"],
                capture_output=True, text=True, timeout=120,
                env=dict(os.environ, CORVANE_LOG_DIR=self.folder.name))
        self.assertEqual(result.returncode, 0, result.stderr)
        [envelope] = server.envelopes
        self.assertIsNotNone(parse(envelope)["Message-ID"])
        self.assertEqual(server.logins_seen, [("PLAIN", "fred")])


if __name__ == "__main__":
    unittest.main()
