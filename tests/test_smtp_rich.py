# SPDX-License-Identifier: Apache-2.0
"""Corvane.SMTP's members for today's senders: HTML bodies with inline
images and custom headers, per-recipient results, one connection for many
messages with pipelining, DKIM (checked by python3-dkim), bearer-token
logins, SMTPUTF8, DSN and the address check; against aiosmtpd and the
scripted server, messages read back by Python's email."""

import base64
import email
import email.policy
import json
import os
import subprocess
import tempfile
import unittest

from support.page_script import run_page_script
from support.smtp_servers import CLOSE, RealSmtpServer, ScriptedSmtpServer

SETTINGS_ERROR = -2147221503
REPLY_ERROR = -2147221499
PIPELINING_EHLO = (b"250-scripted.test\r\n250-PIPELINING\r\n250-DSN\r\n"
                   b"250 8BITMIME\r\n")


def parse(raw):
    return email.message_from_bytes(raw, policy=email.policy.default)


def page(server, *operations, log_dir=None):
    """Runs one Corvane.SMTP on a page: ("put", name, value), ("call",
    name, *args) and ("get", name) in order, then the end of the page.
    Returns the value of every call and get, and the page text."""
    steps = [{"create": "Corvane.SMTP", "as": "m"}, {"page": "p"},
             {"call": "OnStartPage", "on": "m", "args": [{"ref": "p"}]},
             {"put": "SMTP", "on": "m", "value": server.address}]
    answered = []
    for operation in operations:
        kind, name, *args = operation
        if kind == "put":
            steps.append({"put": name, "on": "m", "value": args[0]})
        elif kind == "call":
            answered.append(len(steps))
            steps.append({"call": name, "on": "m", "args": list(args)})
        else:
            answered.append(len(steps))
            steps.append({"get": name, "on": "m"})
    answered.append(len(steps))
    steps += [{"output": "p"}, {"call": "OnEndPage", "on": "m"},
              {"release": "m"}]
    scratch = tempfile.TemporaryDirectory()
    env = dict(os.environ, CORVANE_LOG_DIR=log_dir or scratch.name)
    try:
        answers, result = run_page_script(steps, env=env)
    finally:
        scratch.cleanup()
    errors = [a for a in answers if "error" in a]
    if result.returncode or errors or len(answers) != len(steps):
        raise AssertionError("page failed: %r %s" % (errors, result.stderr))
    return [answers[at]["value"] for at in answered]


def envelope(sender="Sender <from@example.org>", to=("to@example.org",),
             subject="Rich"):
    return [("put", "MailFrom", sender), ("put", "MailSubject", subject)] + [
        ("put", "MailTo", address) for address in to]


def send_and_error():
    return [("call", "SendMail"), ("get", "GetLastErrNum"),
            ("get", "GetLastErrDescription")]


class Folder(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def write(self, name, data):
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as out:
            out.write(data)
        return path


class RichMessages(Folder):
    def test_alternative_related_and_mixed_read_back(self):
        logo = b"\x89PNG\r\n\x1a\n" + os.urandom(700)
        html = ("<html><body><p>Gr\u00fc\u00dfe</p>"
                "<img src=\"cid:logo@penrill\"></body></html>\r\n")
        with RealSmtpServer() as server:
            answers = page(
                server, *envelope(),
                ("put", "MailContent", "Plain greetings"),
                ("put", "HtmlContent", html),
                ("call", "AddInlineImage", self.write("logo.png", logo),
                 "logo@penrill"),
                ("call", "AddHeader", "List-Unsubscribe",
                 "<mailto:leave@example.org>"),
                ("call", "AddHeader", "X-Campaign", "spring \u00e9t\u00e9"),
                ("put", "ReplyTo", "Help Desk <help@example.org>"),
                ("put", "Attach", self.write("terms.pdf", b"%PDF-1.4 terms")),
                *send_and_error())
            self.assertEqual(answers[:5], [True, True, True, True, 0],
                             answers)
            [stored] = server.envelopes
        message = parse(stored.content)
        self.assertEqual(message.defects, [])
        self.assertEqual(message["Reply-To"], "Help Desk <help@example.org>")
        self.assertEqual(message["List-Unsubscribe"],
                         "<mailto:leave@example.org>")
        self.assertEqual(message["X-Campaign"], "spring \u00e9t\u00e9")
        self.assertEqual(stored.content.count(b"MIME-Version"), 1)
        self.assertEqual(message.get_content_type(), "multipart/mixed")
        related, terms = message.get_payload()
        self.assertEqual(terms.get_filename(), "terms.pdf")
        self.assertEqual(related.get_content_type(), "multipart/related")
        alternative, image = related.get_payload()
        self.assertEqual(alternative.get_content_type(),
                         "multipart/alternative")
        plain, rich = alternative.get_payload()
        self.assertEqual(plain.get_content(), "Plain greetings\r\n")
        self.assertEqual(rich.get_content_type(), "text/html")
        self.assertEqual(rich.get_content(), html)
        # The cid the HTML names is the Content-ID of the image part.
        self.assertEqual(image["Content-ID"], "<logo@penrill>")
        self.assertEqual(image.get_content_type(), "image/png")
        self.assertEqual(image.get_payload(decode=True), logo)
        boundaries = {part.get_boundary() for part in
                      (message, related, alternative)}
        self.assertEqual(len(boundaries), 3)
        self.assertNotIn("862EE14B9F0BCE464FC45E01", "".join(boundaries))

    def test_html_alone_is_a_single_part(self):
        with RealSmtpServer() as server:
            answers = page(server, *envelope(),
                           ("put", "HtmlContent", "<p>only</p>"),
                           *send_and_error())
            self.assertEqual(answers[:2], [True, 0], answers)
            message = parse(server.envelopes[0].content)
        self.assertEqual(message.get_content_type(), "text/html")
        self.assertEqual(message.get_content().rstrip(), "<p>only</p>")

    def test_headers_and_ids_that_are_refused(self):
        with ScriptedSmtpServer() as server:
            answers = page(
                server,
                ("call", "AddHeader", "Subject", "second subject"),
                ("get", "GetLastErrDescription"),
                ("call", "AddHeader", "content-type", "text/html"),
                ("call", "AddHeader", "X-Bad Name", "v"),
                ("call", "AddHeader", "X-Inject", "v\r\nBcc: all@x.org"),
                ("get", "GetLastErrDescription"),
                ("call", "AddInlineImage", "/tmp/x.png", "a b"),
                ("call", "AddInlineImage", "/tmp/x.png", "<id>"))
        self.assertEqual(answers[0], False)
        self.assertEqual(answers[1], "SMTP Error: AddHeader: the component "
                         "writes the Subject line itself.")
        self.assertEqual(answers[2:4], [False, False])
        self.assertEqual(answers[4], False)
        self.assertIn("must not contain line breaks", answers[5])
        self.assertEqual(answers[6:8], [False, False])
        self.assertEqual(server.connections, 0)


class Recipients(unittest.TestCase):
    @staticmethod
    def refuse_second(event, count):
        if event == "RCPT" and count == 2:
            return b"550 5.1.1 no such user\r\n"
        return None

    def test_partial_delivery_goes_to_the_accepted(self):
        for partial in (False, True):
            with ScriptedSmtpServer(self.refuse_second) as server:
                answers = page(
                    server, *envelope(to=("a@example.org", "b@example.org",
                                          "c@example.org")),
                    ("put", "MailContent", "x"),
                    ("put", "PartialDelivery", partial),
                    *send_and_error(), ("get", "GetRefusedRecipients"),
                    ("get", "GetAcceptedRecipients"))
            sent, number, description, refused, accepted = answers[:5]
            self.assertEqual(refused,
                             "b@example.org\t550 5.1.1 no such user\r\n")
            if partial:
                self.assertEqual((sent, number), (True, 0), description)
                self.assertEqual(accepted, "a@example.org\r\nc@example.org\r\n")
                self.assertEqual(len(server.messages), 1)
            else:
                self.assertEqual((sent, number), (False, REPLY_ERROR))
                self.assertEqual(description, "Unexpected response: 550 5.1.1"
                                 " no such user\r\n")
                self.assertEqual(server.messages, [])

    def test_none_accepted_fails_even_when_partial(self):
        refuse = lambda event, count: (b"550 no\r\n" if event == "RCPT"
                                       else None)
        with ScriptedSmtpServer(refuse) as server:
            answers = page(server, *envelope(), ("put", "MailContent", "x"),
                           ("put", "PartialDelivery", True),
                           *send_and_error())
        self.assertEqual(answers[:3], [False, REPLY_ERROR,
                                       "Unexpected response: 550 no\r\n"])
        self.assertEqual(server.messages, [])

    def test_addresses_are_checked_before_connecting(self):
        with ScriptedSmtpServer() as server:
            answers = page(server, *envelope(sender="not an address"),
                           *send_and_error(), *envelope(to=("x@y..z",)),
                           *send_and_error())
        self.assertEqual(answers[:3], [
            False, SETTINGS_ERROR,
            'SMTP Error: MailFrom is not an address: "not an address".'])
        self.assertEqual(answers[3:6], [
            False, SETTINGS_ERROR,
            'SMTP Error: MailTo is not an address: "x@y..z".'])
        self.assertEqual(server.connections, 0)


class OneConnection(unittest.TestCase):
    def script(self, extra=None):
        def answer(event, count):
            if event == "EHLO":
                return PIPELINING_EHLO
            return extra(event, count) if extra else None
        return answer

    def test_pipelined_messages_byte_for_byte(self):
        with ScriptedSmtpServer(self.script()) as server:
            answers = page(
                server, ("put", "KeepConnection", True),
                *envelope(to=("a@example.org", "b@example.org")),
                ("put", "MailContent", "one"), *send_and_error(),
                *envelope(to=("c@example.org",)),
                ("put", "MailContent", "two"), *send_and_error())
        self.assertEqual(answers[:6], [True, 0, "", True, 0, ""], answers)
        self.assertEqual(server.connections, 1)
        first, second = server.messages
        received = server.received
        self.assertEqual(received[received.index(b"\r\n") + 2:], (
            b"MAIL FROM:<from@example.org>\r\nRCPT TO:<a@example.org>\r\n"
            b"RCPT TO:<b@example.org>\r\nDATA\r\n" + first + b".\r\n"
            b"RSET\r\nMAIL FROM:<from@example.org>\r\n"
            b"RCPT TO:<c@example.org>\r\nDATA\r\n" + second + b".\r\n"
            b"QUIT\r\n"))
        self.assertTrue(received.startswith(b"EHLO "))

    def test_a_refusal_inside_the_pipeline_sends_no_message(self):
        refuse = lambda event, count: (b"550 no\r\n"
                                       if event == "RCPT" and count == 2
                                       else None)
        with ScriptedSmtpServer(self.script(refuse)) as server:
            answers = page(
                server, ("put", "KeepConnection", True),
                *envelope(to=("a@example.org", "b@example.org")),
                ("put", "MailContent", "one"), *send_and_error(),
                ("get", "GetRefusedRecipients"))
        self.assertEqual(answers[:4], [False, REPLY_ERROR,
                                       "Unexpected response: 550 no\r\n",
                                       "b@example.org\t550 no\r\n"])
        # The server said 354 to the pipelined DATA; the link was cut
        # rather than a message sent that was not to go.
        self.assertEqual(server.messages, [])
        self.assertTrue(server.received.endswith(b"DATA\r\n"))

    def test_too_many_recipients_inside_the_pipeline(self):
        # A server that takes one recipient a message says 452 (or 552) to
        # the rest; they are refused, and only a message that went counts
        # its recipients as accepted.
        for code in (b"452 4.5.3", b"552 5.5.3"):
            too_many = lambda event, count, code=code: (
                code + b" Too many recipients\r\n"
                if event == "RCPT" and count > 1 else None)
            for partial in (False, True):
                with ScriptedSmtpServer(self.script(too_many)) as server:
                    answers = page(
                        server, ("put", "KeepConnection", True),
                        ("put", "PartialDelivery", partial),
                        *envelope(to=("a@example.org", "b@example.org",
                                      "c@example.org")),
                        ("put", "MailContent", "one"), *send_and_error(),
                        ("get", "GetAcceptedRecipients"),
                        ("get", "GetRefusedRecipients"))
                sent, number, _, accepted, refused = answers[:5]
                reply = code.decode() + " Too many recipients"
                self.assertEqual(refused, "b@example.org\t%s\r\n"
                                 "c@example.org\t%s\r\n" % (reply, reply))
                if partial:
                    self.assertEqual((sent, number), (True, 0), answers)
                    self.assertEqual(accepted, "a@example.org\r\n")
                    self.assertEqual(len(server.messages), 1)
                else:
                    self.assertEqual((sent, number), (False, REPLY_ERROR))
                    self.assertEqual(accepted, "")
                    self.assertEqual(server.messages, [])

    def test_a_message_refused_before_connecting_keeps_the_link(self):
        with ScriptedSmtpServer(self.script()) as server:
            answers = page(
                server, ("put", "KeepConnection", True), *envelope(),
                ("put", "MailContent", "one"), *send_and_error(),
                *envelope(sender="not an address"),
                ("put", "MailContent", "two"), *send_and_error(),
                ("put", "MailFrom", "from@example.org"), *send_and_error())
        self.assertEqual(answers[:3], [True, 0, ""], answers)
        self.assertEqual(answers[3:5], [False, SETTINGS_ERROR])
        self.assertEqual(answers[6], True, answers)
        self.assertEqual(server.connections, 1)
        self.assertEqual(len(server.messages), 2)
        self.assertEqual(server.received.count(b"QUIT"), 1)

    def test_a_link_dropped_between_messages_is_made_again(self):
        drop = lambda event, count: ([b"250 queued\r\n", CLOSE]
                                     if event == "DOT" else None)
        with ScriptedSmtpServer(self.script(drop)) as server:
            answers = page(
                server, ("put", "KeepConnection", True), *envelope(),
                ("put", "MailContent", "one"), *send_and_error(),
                *envelope(), ("put", "MailContent", "two"),
                *send_and_error())
        self.assertEqual(answers[:6], [True, 0, "", True, 0, ""], answers)
        self.assertEqual(server.connections, 2)
        self.assertEqual(len(server.messages), 2)

    def test_one_connection_to_a_server_without_pipelining(self):
        with RealSmtpServer() as server:
            answers = page(server, ("put", "KeepConnection", True),
                           *[operation for n in range(3) for operation in
                             envelope(subject="n%d" % n) +
                             [("put", "MailContent", "m")] +
                             send_and_error()])
            self.assertEqual(answers[:9], [True, 0, ""] * 3, answers)
            self.assertEqual(len(set(server.peers)), 1)
            self.assertEqual([parse(e.content)["Subject"]
                              for e in server.envelopes], ["n0", "n1", "n2"])


def public_key_record(key_path, ed25519):
    der = subprocess.run(["openssl", "pkey", "-in", key_path, "-pubout",
                          "-outform", "DER"], check=True,
                         capture_output=True).stdout
    if ed25519:
        return b"v=DKIM1; k=ed25519; p=" + base64.b64encode(der[-32:])
    return b"v=DKIM1; k=rsa; p=" + base64.b64encode(der)


class Dkim(Folder):
    def test_signatures_verify_after_reencoding_and_folding(self):
        import dkim
        subject = " ".join("word%d" % n for n in range(200))
        for algorithm, ed25519 in (("RSA", False), ("ED25519", True)):
            key = os.path.join(self.folder.name, algorithm + ".pem")
            options = ["-pkeyopt", "rsa_keygen_bits:2048"] if not ed25519 \
                else []
            subprocess.run(["openssl", "genpkey", "-algorithm", algorithm,
                            *options, "-out", key], check=True,
                           capture_output=True)
            record = public_key_record(key, ed25519)
            with RealSmtpServer() as server:
                answers = page(
                    server, *envelope(subject=subject),
                    ("put", "MailContent", "Gr\u00fc\u00dfe  with  blanks  "),
                    ("put", "HtmlContent", "<p>caf\u00e9</p>"),
                    ("put", "DkimDomain", "example.org"),
                    ("put", "DkimSelector", "mail"),
                    ("put", "DkimKeyFile", key), *send_and_error())
                self.assertEqual(answers[:2], [True, 0], answers)
                raw = server.envelopes[0].content
            self.assertTrue(raw.startswith(b"DKIM-Signature: v=1; a=" +
                                           (b"ed25519" if ed25519 else b"rsa")
                                           + b"-sha256"), raw[:80])
            self.assertIn(b"Content-Transfer-Encoding: base64", raw)

            def dns(name, timeout=5):
                return record if name == b"mail._domainkey.example.org." \
                    else None
            self.assertTrue(dkim.verify(raw, dnsfunc=dns), algorithm)
            tampered = raw.replace(b"word7 ", b"word8 ", 1)
            self.assertFalse(dkim.verify(tampered, dnsfunc=dns), algorithm)

    def test_an_unusable_key_fails_before_connecting(self):
        with ScriptedSmtpServer() as server:
            answers = page(server, *envelope(), ("put", "MailContent", "x"),
                           ("put", "DkimDomain", "example.org"),
                           ("put", "DkimSelector", "mail"),
                           ("put", "DkimKeyFile",
                            self.write("key.pem", b"no key")),
                           *send_and_error())
        self.assertEqual(answers[:2], [False, SETTINGS_ERROR])
        self.assertTrue(answers[2].startswith("SMTP Error: DkimKeyFile "),
                        answers[2])
        self.assertEqual(server.connections, 0)


class BearerLogins(Folder):
    def test_xoauth2_and_oauthbearer_and_a_hidden_refused_token(self):
        for excluded, mechanism in (("OAUTHBEARER", "XOAUTH2"),
                                    ("XOAUTH2", "OAUTHBEARER")):
            with RealSmtpServer(tokens={"u@example.org": "good-token-1"},
                                exclude_auth=["PLAIN", "LOGIN", excluded]) \
                    as server:
                answers = page(server, *envelope(),
                               ("put", "MailContent", "x"),
                               ("put", "AuthUser", "u@example.org"),
                               ("put", "AuthToken", "good-token-1"),
                               *send_and_error())
                self.assertEqual(answers[:2], [True, 0], answers)
                self.assertIn((mechanism, "u@example.org"),
                              server.logins_seen)
                logs = os.path.join(self.folder.name, mechanism)
                os.mkdir(logs)
                answers = page(server, *envelope(),
                               ("put", "MailContent", "x"),
                               ("put", "LogEvent", True),
                               ("put", "AuthUser", "u@example.org"),
                               ("put", "AuthToken", "stale-token-22"),
                               *send_and_error(), ("get", "GetServerReplies"),
                               log_dir=logs)
                self.assertEqual(answers[:2], [False, REPLY_ERROR])
                self.assertIn("535", answers[2])
                with open(os.path.join(logs, "SendMail.log")) as log:
                    logged = log.read()
                for seen in (answers[2], answers[3], answers[4], logged):
                    self.assertNotIn("stale-token-22", seen)
                self.assertEqual(len(server.envelopes), 1)


class International(unittest.TestCase):
    def test_smtputf8_when_offered(self):
        with RealSmtpServer(smtputf8=True) as server:
            answers = page(server, *envelope(
                sender="j\u00f6rg@example.org",
                to=("Ren\u00e9 <ren\u00e9@b\u00fccher.example>",)),
                ("put", "MailContent", "x"), *send_and_error())
            self.assertEqual(answers[:2], [True, 0], answers)
            [stored] = server.envelopes
        self.assertEqual(stored.mail_from, "j\u00f6rg@example.org")
        self.assertEqual(stored.rcpt_tos, ["ren\u00e9@b\u00fccher.example"])
        self.assertIn("SMTPUTF8", stored.mail_options)

    def test_ace_domains_without_smtputf8_and_dsn_when_offered(self):
        ehlo = lambda event, count: PIPELINING_EHLO if event == "EHLO" \
            else None
        with ScriptedSmtpServer(ehlo) as server:
            answers = page(server, *envelope(
                to=("info@m\u00fcnchen.example",)),
                ("put", "MailContent", "x"),
                ("put", "DsnNotify", "failure,delay"),
                ("put", "DsnReturn", "hdrs"), *send_and_error(),
                *envelope(to=("j\u00f6rg@example.org",)),
                ("put", "MailContent", "x"), *send_and_error())
        self.assertEqual(answers[:2], [True, 0], answers)
        self.assertIn(b"MAIL FROM:<from@example.org> RET=HDRS\r\n"
                      b"RCPT TO:<info@xn--mnchen-3ya.example> "
                      b"NOTIFY=FAILURE,DELAY\r\n", server.received)
        self.assertEqual(answers[3:5], [False, SETTINGS_ERROR])
        self.assertIn("does not offer SMTPUTF8", answers[5])

    def test_envelope_id_as_xtext_only_where_dsn_is_offered(self):
        plain_ehlo = b"250-scripted.test\r\n250 8BITMIME\r\n"
        for ehlo, sent in ((PIPELINING_EHLO, True), (plain_ehlo, False)):
            script = lambda event, count, ehlo=ehlo: (
                ehlo if event == "EHLO" else None)
            with ScriptedSmtpServer(script) as server:
                answers = page(server, *envelope(),
                               ("put", "MailContent", "x"),
                               ("put", "DsnReturn", "full"),
                               ("put", "DsnEnvelopeId", "QQ 314+1=2"),
                               ("get", "DsnEnvelopeId"), *send_and_error())
            self.assertEqual(answers[:3], ["QQ 314+1=2", True, 0], answers)
            mail_from = server.received.split(b"\r\n")[1]
            self.assertEqual(mail_from, b"MAIL FROM:<from@example.org>" + (
                b" RET=FULL ENVID=QQ+20314+2B1+3D2" if sent else b""))
        # Text that is no printable ASCII, or too long once encoded, is
        # refused before connecting.
        with ScriptedSmtpServer() as server:
            answers = page(server, *envelope(), ("put", "MailContent", "x"),
                           ("put", "DsnEnvelopeId", "id\r\nRSET"),
                           *send_and_error(),
                           ("put", "DsnEnvelopeId", "caf\u00e9"),
                           *send_and_error(),
                           ("put", "DsnEnvelopeId", "+" * 34),
                           *send_and_error())
        self.assertEqual(answers[:2], [False, SETTINGS_ERROR])
        self.assertIn("DsnEnvelopeId", answers[2])
        self.assertEqual(answers[3:5], [False, SETTINGS_ERROR])
        self.assertEqual(answers[6:8], [False, SETTINGS_ERROR])
        self.assertEqual(server.connections, 0)

    def test_header_addresses_follow_the_envelope_into_ascii(self):
        sender = "J\u00f6rg <j@b\u00fccher.example>"
        to = "Ren\u00e9 <info@m\u00fcnchen.example>"
        for smtputf8 in (False, True):
            with RealSmtpServer(smtputf8=smtputf8,
                                hide_smtputf8=not smtputf8) as server:
                answers = page(server, *envelope(sender=sender, to=(to,)),
                               ("put", "MailCc", "c@m\u00fcnchen.example"),
                               ("put", "MailContent", "x"),
                               *send_and_error())
                self.assertEqual(answers[:2], [True, 0], answers)
                [stored] = server.envelopes
            message = parse(stored.content)
            if smtputf8:
                self.assertEqual(message["From"], sender)
                self.assertEqual(message["To"], to)
                continue
            self.assertEqual(stored.mail_from, "j@xn--bcher-kva.example")
            self.assertNotIn(b"\xc3", stored.content.split(b"\r\n\r\n")[0])
            self.assertEqual(message["From"],
                             "J\u00f6rg <j@xn--bcher-kva.example>")
            self.assertEqual(message["Reply-To"],
                             "J\u00f6rg <j@xn--bcher-kva.example>")
            self.assertEqual(message["To"],
                             "Ren\u00e9 <info@xn--mnchen-3ya.example>")
            self.assertEqual(message["Cc"], "c@xn--mnchen-3ya.example")


class MailCommandOptions(Folder):
    def run_mail(self, *arguments):
        from support.programs import program
        env = dict(os.environ, CORVANE_LOG_DIR=self.folder.name)
        return subprocess.run([program("corvane"), "mail", *arguments],
                              capture_output=True, text=True, timeout=120,
                              env=env)

    def test_rich_options_and_partial_delivery(self):
        refuse = lambda event, count: (b"550 unknown\r\n"
                                       if event == "RCPT" and count == 2
                                       else None)
        html = self.write("body.html", b"<p><img src='cid:pic'></p>\n")
        image = self.write("pic.gif", b"GIF89a")
        with ScriptedSmtpServer(refuse) as server:
            result = self.run_mail(
                "--server", server.address, "--from", "cli@example.org",
                "--to", "a@example.org", "--to", "b@example.org",
                "--subject", "Options", "--body", "plain", "--html", html,
                "--inline", image + "=pic", "--header", "X-Tag=one=two",
                "--reply-to", "desk@example.org", "--partial")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "refused: b@example.org\t550 unknown\n")
        message = parse(server.messages[0])
        self.assertEqual(message["X-Tag"], "one=two")
        self.assertEqual(message["Reply-To"], "desk@example.org")
        self.assertEqual(message.get_content_type(), "multipart/related")

    def test_batch_sends_every_line_over_one_connection(self):
        batch = self.write("batch.jsonl", (
            '{"to": "a@example.org", "subject": "one", "body": "1"}\n'
            '{"to": "not an address", "subject": "two"}\n'
            '{"to": ["b@example.org"], "subject": "three", "html": "<b>3</b>"}'
            '\n').encode())
        with RealSmtpServer() as server:
            result = self.run_mail("--server", server.address, "--from",
                                   "cli@example.org", "--batch", batch)
            peers = set(server.peers)
            subjects = [parse(e.content)["Subject"] for e in server.envelopes]
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual([line["sent"] for line in lines], [True, False, True])
        self.assertEqual(lines[0]["accepted"], ["a@example.org"])
        self.assertIn("not an address", lines[1]["error"])
        self.assertEqual(lines[2]["accepted"], ["b@example.org"])
        self.assertEqual(subjects, ["one", "three"])
        # A message refused before connecting leaves the kept link open.
        self.assertEqual(len(peers), 1)


if __name__ == "__main__":
    unittest.main()
