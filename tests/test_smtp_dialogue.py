# SPDX-License-Identifier: Apache-2.0
"""Corvane.SMTP against a scripted SMTP server on loopback: the exact bytes
of the dialogue, slow mode, the replies a server may give, and the faults a
server may commit (silence, closing, replies in pieces)."""

import email
import email.policy
import socket
import unittest

from support.penrill import send_mail
from support.smtp_servers import CLOSE, SILENT, ScriptedSmtpServer

SETTLED = "Unexpected response: "
REPLY_ERROR = -2147221499
SHORT_SEND_ERROR = -2147221498
# The greeting names this machine's fully qualified name, or the address
# literal of the connection's local end when it has none.
def greeting_name():
    name = socket.gethostname()
    if "." not in name:
        try:
            name = socket.getaddrinfo(name, None, socket.AF_UNSPEC, 0, 0,
                                      socket.AI_CANONNAME)[0][3]
        except OSError:
            name = ""
    return name if "." in name and not name.replace(".", "").isdigit() \
        else "[127.0.0.1]"


HOST = greeting_name()


def basic(server, to=("Reader <to@example.org>",), cc=(), extra=()):
    settings = [("SMTP", server.address),
                ("MailFrom", "Sender <from@example.org>"),
                ("MailSubject", "Dialogue"),
                ("MailContent", "Line one"),
                ("MailContent", "Line two")]
    settings += [("MailTo", address) for address in to]
    settings += [("MailCc", address) for address in cc]
    return settings + list(extra)


def message_header(message, name):
    return email.message_from_bytes(message, policy=email.policy.compat32)[name]


class WholeDialogue(unittest.TestCase):
    def test_one_to_and_one_cc(self):
        with ScriptedSmtpServer() as server:
            [result] = send_mail(basic(server, cc=["Copy <cc@example.org>"]))
        self.assertTrue(result.sent)
        self.assertEqual((result.number, result.source, result.description),
                         (0, "", ""))
        self.assertEqual(result.page, "")
        [message] = server.messages
        expected = (
            b"HELO " + HOST.encode() + b"\r\n"
            b"MAIL FROM:<from@example.org>\r\n"
            b"RCPT TO:<to@example.org>\r\n"
            b"RCPT TO:<cc@example.org>\r\n"
            b"DATA\r\n" + message + b".\r\n"
            b"MAIL FROM:<from@example.org>\r\n"
            b"QUIT\r\n")
        self.assertEqual(server.received, expected)
        self.assertTrue(message.startswith(b"Date: "))
        self.assertIn(b"\r\nTo: Reader <to@example.org>\r\n"
                      b"Cc: Copy <cc@example.org>\r\nSubject: Dialogue\r\n",
                      message)
        # The body, the line end the message adds, and the CR LF that
        # belongs to the end-of-data mark.
        self.assertTrue(message.endswith(b"\r\n\r\nLine one\r\nLine two\r\n"
                                         b"\r\n\r\n"), message)

    def test_lists_are_empty_after_a_success(self):
        with ScriptedSmtpServer() as server:
            first, second = send_mail(basic(server), sends=2)
        self.assertTrue(first.sent)
        self.assertFalse(second.sent)
        self.assertEqual(second.number, -2147221503)
        self.assertEqual(second.description,
                         "SMTP Error: Please specify recipent.")
        self.assertEqual(second.page,
                         "SMTP Error: Please specify recipent.<br>")
        self.assertEqual(server.connections, 1)

    def test_slow_mode_sends_one_copy_per_to_recipient(self):
        with ScriptedSmtpServer() as server:
            [result] = send_mail(basic(
                server, to=["One <one@example.org>", "two@example.org"],
                extra=[("SlowMode", True)]))
        self.assertTrue(result.sent, result)
        first, second = server.messages
        self.assertEqual(message_header(first, "To"), "One <one@example.org>")
        self.assertEqual(message_header(second, "To"), "two@example.org")
        commands = [line for line in server.received.split(b"\r\n")
                    if line[:4] in (b"RCPT", b"DATA", b"MAIL", b"QUIT")]
        self.assertEqual(commands, [
            b"MAIL FROM:<from@example.org>", b"RCPT TO:<one@example.org>",
            b"DATA", b"MAIL FROM:<from@example.org>", b"RCPT TO:<two@example.org>",
            b"DATA", b"MAIL FROM:<from@example.org>", b"QUIT"])


class FailureChecks:
    def assert_failed(self, result, number, description):
        self.assertFalse(result.sent)
        self.assertEqual((result.number, result.source, result.description),
                         (number, "Penrill.SMTP", description))
        self.assertEqual(result.page, description + "<br>")


class ServerReplies(FailureChecks, unittest.TestCase):
    def test_251_counts_as_accepted(self):
        script = lambda event, n: b"251 will forward\r\n" if event == "RCPT" \
            else None
        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(basic(server, cc=["cc@example.org"]))
        self.assertTrue(result.sent, result)
        self.assertEqual(len(server.messages), 1)

    def test_552_on_the_third_rcpt_delivers_and_gives_it_again(self):
        script = lambda event, n: b"552 too many recipients\r\n" \
            if (event, n) == ("RCPT", 3) else None
        to = ["a@example.org", "b@example.org", "c@example.org"]
        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(basic(server, to=to))
        self.assertTrue(result.sent, result)
        self.assertEqual(len(server.messages), 2)
        commands = [line for line in server.received.split(b"\r\n")
                    if line[:4] in (b"RCPT", b"DATA", b"MAIL", b"QUIT")]
        self.assertEqual(commands, [
            b"MAIL FROM:<from@example.org>", b"RCPT TO:<a@example.org>",
            b"RCPT TO:<b@example.org>", b"RCPT TO:<c@example.org>", b"DATA",
            b"MAIL FROM:<from@example.org>", b"RCPT TO:<c@example.org>", b"DATA",
            b"MAIL FROM:<from@example.org>", b"QUIT"])

    def test_421_greeting_fails_and_keeps_the_lists(self):
        greeting = [b"421 busy, try later\r\n"]
        script = lambda event, n: greeting.pop() if event == "GREETING" and \
            greeting else None
        with ScriptedSmtpServer(script) as server:
            failed, retried = send_mail(basic(server), sends=2)
        self.assert_failed(failed, REPLY_ERROR,
                           SETTLED + "421 busy, try later\r\n")
        self.assertTrue(retried.sent, "the lists stayed for a second try")
        self.assertEqual(retried.number, REPLY_ERROR, "a success keeps it")
        self.assertEqual(server.connections, 2)
        self.assertEqual(len(server.messages), 1)
        self.assertTrue(server.received.startswith(b"QUIT\r\nHELO "),
                        "only QUIT was sent to the busy server")

    def test_mail_from_refused_stops_at_once(self):
        script = lambda event, n: b"550 sender rejected\r\n" \
            if event == "MAIL" else None
        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(basic(server))
        self.assert_failed(result, REPLY_ERROR,
                           SETTLED + "550 sender rejected\r\n")
        self.assertTrue(server.received.endswith(
            b"MAIL FROM:<from@example.org>\r\nQUIT\r\n"),
            "QUIT ends the refused dialogue")

    def test_the_last_line_of_a_reply_gives_its_code(self):
        script = lambda event, n: b"250-looks fine\r\n550 but no\r\n" \
            if event == "RCPT" else None
        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(basic(server))
        self.assert_failed(result, REPLY_ERROR,
                           SETTLED + "250-looks fine\r\n550 but no\r\n")
        self.assertEqual(server.messages, [])

    def test_multi_line_greeting(self):
        greeting = (b"220-scripted.test welcomes you\r\n"
                    b"220-second line\r\n220 ready\r\n")
        script = lambda event, n: greeting if event == "GREETING" else None
        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(basic(server))
        self.assertTrue(result.sent, result)
        self.assertEqual(len(server.messages), 1)

    def test_reply_split_across_two_packets(self):
        pieces = {"GREETING": [b"22", b"0 ready\r\n"],
                  "HELO": [b"250-scripted.test\r\n250-SIZE", b" 1000\r\n250 OK\r\n"],
                  "DOT": [b"250 que", b"ued\r\n"]}
        with ScriptedSmtpServer(lambda e, n: pieces.get(e)) as server:
            [result] = send_mail(basic(server))
        self.assertTrue(result.sent, result)
        self.assertEqual(len(server.messages), 1)


class ServerFaults(FailureChecks, unittest.TestCase):
    def test_server_that_never_answers_times_out(self):
        with ScriptedSmtpServer(lambda e, n: SILENT) as server:
            [result] = send_mail(basic(server, extra=[("Timeout", 1)]))
        self.assert_failed(result, REPLY_ERROR,
                           SETTLED + "Connection timed out.")
        self.assertEqual(server.received, b"")

    def test_silence_after_data_times_out(self):
        script = lambda e, n: SILENT if e == "DOT" else None
        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(basic(server, extra=[("Timeout", 1)]))
        self.assert_failed(result, REPLY_ERROR,
                           SETTLED + "Connection timed out.")

    def test_server_that_closes_mid_dialogue(self):
        script = lambda e, n: CLOSE if e == "RCPT" else None
        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(basic(server))
        self.assert_failed(result, REPLY_ERROR, SETTLED)
        self.assertEqual(server.messages, [])

    def test_server_that_closes_while_the_message_is_sent(self):
        # The server closes as soon as it has asked for the message: the
        # sends that follow meet a closed connection, which must end the
        # send as a failure and leave the host process running.
        script = lambda e, n: [b"354 go ahead\r\n", CLOSE] \
            if e == "DATA" else None
        big = [("MailContent", "x" * 1000)] * 4000
        with ScriptedSmtpServer(script) as server:
            [result] = send_mail(basic(server, extra=big))
        self.assertFalse(result.sent)
        self.assertIn(result.number, (REPLY_ERROR, SHORT_SEND_ERROR))
        self.assertEqual(result.page, result.description + "<br>")

    def test_refused_connection(self):
        with ScriptedSmtpServer() as server:
            address = server.address
        [result] = send_mail([("SMTP", address), ("MailFrom", "a@example.org"),
                              ("MailTo", "b@example.org")])
        self.assert_failed(result, -2147221500,
                           "Unable to establish connection with SMTP Server. "
                           "Connection refused.")


if __name__ == "__main__":
    unittest.main()
