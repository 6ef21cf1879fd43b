# SPDX-License-Identifier: Apache-2.0
"""Corvane.WhoisQuery against a scripted whois server on loopback, driven
through the real programs: page scripts run by `corvane run`, and
`corvane whois`."""

import json
import os
import subprocess
import unittest

from support.programs import program
from support.whois_fixtures import (DOMAIN_FIELDS, DOMAIN_REPLY, HOST_REPLY,
                                    JAN, NO_MATCH_REPLY)
from support.ports import ClosedPort
from support.whois_server import WhoisServer

QUERY_REFUSED = -2147221503
CONNECT_FAILED = -2147221500
READ_FAILED = -2147221499
NO_SUCH_HOST = "no..where.invalid"  # rejected by the resolver itself

# A loopback port held bound without listening: connections are refused.
REFUSING = ClosedPort()


def run_page(steps):
    """Runs a page script; the answers of its steps, in order."""
    script = "".join(json.dumps(step) + "\n" for step in steps)
    result = subprocess.run([program("corvane"), "run", "-"], input=script,
                            capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError(result.stderr)
    return [json.loads(line) for line in result.stdout.splitlines()]


REPLIES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                       "whois", "tests", "replies")


def published_reply(name, referral=None, to=None):
    """A reply in a published format; its referral replaced by `to`."""
    with open(os.path.join(REPLIES, name), "rb") as file:
        reply = file.read()
    if referral:
        reply = reply.replace(referral.encode(), to.encode())
    return reply


def query_steps(server, query="widget.zz", timeout=None, follow=None):
    steps = [{"create": "Corvane.WhoisQuery", "as": "w"},
             {"page": "p"},
             {"call": "OnStartPage", "on": "w", "args": [{"ref": "p"}]},
             {"put": "WhoisServer", "on": "w", "value": server}]
    if timeout is not None:
        steps.append({"put": "Timeout", "on": "w", "value": timeout})
    if follow is not None:
        steps.append({"put": "FollowReferral", "on": "w", "value": follow})
    steps.append({"call": "SendQuery", "on": "w", "args": [query]})
    return steps


def get(member):
    return {"get": member, "on": "w"}


ERROR_TRIPLE = [get("GetLastErrNum"), get("GetLastErrSource"),
                get("GetLastErrDescription"), {"output": "p"}]


class WhoisQueryTest(unittest.TestCase):
    def query(self, server, extra=(), **options):
        """SendQuery's answer and the values of the extra steps."""
        answers = run_page(query_steps(server, **options) + list(extra))
        count = len(answers) - len(extra)
        return answers[count - 1], [a.get("value") for a in answers[count:]]

    def assertFailure(self, values, number, description):
        self.assertEqual(values, [number, "Namewell", description,
                                  description + "<br>"])

    def test_query_line_and_every_field(self):
        fields = list(DOMAIN_FIELDS)
        with WhoisServer(DOMAIN_REPLY) as server:
            sent, values = self.query(server.address, query="  widget.zz ",
                                      extra=[get(f) for f in fields] +
                                      [get("GetResponse")])
        self.assertEqual(sent["value"], True)
        self.assertEqual(sent["byref"], ["  widget.zz "])
        self.assertEqual(server.queries, [b"widget.zz\r\n"])
        self.assertEqual(dict(zip(fields, values)), DOMAIN_FIELDS)
        self.assertEqual(values[-1], DOMAIN_REPLY.decode())

    def test_reply_in_small_pieces(self):
        with WhoisServer(HOST_REPLY, piece_size=7) as server:
            sent, values = self.query(server.address, extra=[
                get("gethostname"), get("GetCoordinator"),
                get("GetResponse")])
        self.assertEqual(sent["value"], True)
        self.assertEqual(values, ["NS1.WIDGET.ZZ",
                                  JAN, HOST_REPLY.decode()])

    def test_no_match_and_silent_close(self):
        with WhoisServer(NO_MATCH_REPLY) as server:
            sent, values = self.query(server.address, extra=[
                get("IsRecordFound"), get("GetRegistrant"),
                get("GetResponse")])
        self.assertEqual(sent["value"], True)
        self.assertEqual(values, [False, "", NO_MATCH_REPLY.decode()])
        with WhoisServer(mode="close") as server:
            sent, values = self.query(server.address, extra=[
                get("IsRecordFound"), get("GetDomainName"),
                get("GetResponse")])
        self.assertEqual(sent["value"], True)
        self.assertEqual(values, [True, "", ""])

    def test_rate_limit_wordings_are_their_own_failure(self):
        rows = [
            (b"Query rate limit exceeded. Try again in 60 seconds.\r\n",
             "Query rate limit exceeded. Try again in 60 seconds. Wait 60 "
             "seconds.", 60),
            (b"WHOIS LIMIT EXCEEDED - SEE WWW.EXAMPLE.ZZ/WHOIS FOR DETAILS\n",
             "WHOIS LIMIT EXCEEDED - SEE WWW.EXAMPLE.ZZ/WHOIS FOR DETAILS.", 0),
            (b"%ERROR:201: access denied\n% Access denied - try again later."
             b"\n", "Access denied - try again later.", 0),
        ]
        for reply, notice, wait in rows:
            with WhoisServer(reply) as server:
                sent, values = self.query(server.address, extra=[
                    get("IsRecordFound"), get("GetRetryAfter"),
                    get("GetLastErrNum"), get("GetLastErrDescription")])
            self.assertEqual(sent["value"], False)
            self.assertEqual(values, [False, wait, -2147221497,
                                      "Rate limited by the whois server: " +
                                      notice])

    def test_refused_connection(self):
        sent, values = self.query(REFUSING.address,
                                  extra=ERROR_TRIPLE)
        self.assertEqual(sent["value"], False)
        self.assertFailure(values, CONNECT_FAILED,
                           "Unable to establish connection with Whois "
                           "Server. Connection refused.")

    def test_unresolvable_name(self):
        sent, values = self.query(NO_SUCH_HOST, extra=ERROR_TRIPLE)
        self.assertEqual(sent["value"], False)
        self.assertFailure(values, CONNECT_FAILED,
                           "Unable to establish connection with Whois "
                           "Server. Host not found.")

    def test_server_that_never_answers_times_out(self):
        with WhoisServer(mode="silent") as server:
            sent, values = self.query(server.address, timeout=1,
                                      extra=ERROR_TRIPLE)
        self.assertEqual(sent["value"], False)
        self.assertFailure(values, READ_FAILED,
                           "Network Error: Unable to read. "
                           "Connection timed out.")

    def test_reply_beyond_the_bound(self):
        with WhoisServer(mode="flood") as server:
            sent, values = self.query(server.address,
                                      extra=ERROR_TRIPLE +
                                      [get("GetResponse")])
            flooded = server.flooded
        self.assertEqual(sent["value"], False)
        self.assertFailure(values[:4], READ_FAILED,
                           "Network Error: Unable to read. The reply is "
                           "longer than 8388608 bytes.")
        self.assertEqual(values[4], "")
        self.assertLess(flooded, 16 * 1024 * 1024)

    def test_fields_and_error_after_failure_then_success(self):
        refused = REFUSING.address
        with WhoisServer(DOMAIN_REPLY) as server:
            answers = run_page(
                query_steps(server.address) +
                [{"put": "WhoisServer", "on": "w", "value": refused},
                 {"call": "SendQuery", "on": "w", "args": ["widget.zz"]},
                 get("GetResponse"), get("GetDomainName"),
                 get("IsRecordFound"), get("GetLastErrNum"),
                 {"put": "WhoisServer", "on": "w", "value": server.address},
                 {"call": "SendQuery", "on": "w", "args": ["widget.zz"]},
                 get("GetDomainName"), get("GetLastErrNum")])
        values = [a.get("value") for a in answers[4:]]
        self.assertEqual(values, [True, None, False, DOMAIN_REPLY.decode(),
                                  "", False, CONNECT_FAILED, None, True,
                                  "WIDGET.ZZ", CONNECT_FAILED])


    def test_query_with_line_break_sends_nothing(self):
        with WhoisServer(DOMAIN_REPLY) as server:
            sent, values = self.query(server.address,
                                      query="widget.zz\r\nsecond.zz",
                                      extra=ERROR_TRIPLE)
            self.assertEqual(server.queries, [])
        self.assertEqual(sent["value"], False)
        self.assertFailure(values, QUERY_REFUSED,
                           "The query holds a line break or a NUL "
                           "character; nothing was sent.")

    def test_international_name_is_sent_in_ascii_form(self):
        with WhoisServer(published_reply("de-denic.txt")) as server:
            sent, values = self.query(server.address, query="b\u00fccher.de",
                                      extra=[get("GetDomainName")])
        self.assertEqual(sent["value"], True)
        self.assertEqual(server.queries, [b"xn--bcher-kva.de\r\n"])
        self.assertEqual(values, ["example-widgets.de"])


def registrar_server():
    """A registrar's server answering in the ICANN format; its reply names
    the server itself, as registrars' replies do."""
    server = WhoisServer()
    server.answer = published_reply("icann-registrar.txt",
                                    "whois.example-registrar.net",
                                    server.address)
    return server


REFERRAL_FIELDS = ["GetDomainName", "GetRegistrar", "GetRegistrant",
                   "GetAdministrativeEmail", "GetExpiryTime",
                   "GetReferralChain", "GetLastErrNum", "GetResponse"]


class WhoisReferralTest(unittest.TestCase):
    """Referrals between loopback whois servers: IANA's form refers to the
    registry, whose thin reply refers to the registrar."""

    def follow(self, first, query="example-widgets.com", timeout=None):
        answers = run_page(query_steps(first.address, query=query,
                                       timeout=timeout, follow=True) +
                           [get(f) for f in REFERRAL_FIELDS])
        values = [a.get("value") for a in answers[-len(REFERRAL_FIELDS):]]
        sent = answers[-len(REFERRAL_FIELDS) - 1]
        self.assertEqual(sent["value"], True)
        return dict(zip(REFERRAL_FIELDS, values))

    def test_three_servers_registrar_fields_win(self):
        with registrar_server() as registrar, \
                WhoisServer(published_reply(
                    "com-registry-thin.txt", "whois.example-registrar.net",
                    registrar.address)) as registry, \
                WhoisServer(published_reply(
                    "iana-referral.txt", "whois.verisign-grs.com",
                    registry.address)) as iana:
            fields = self.follow(iana)
            self.assertEqual([registrar.queries, registry.queries,
                              iana.queries],
                             [[b"example-widgets.com\r\n"]] * 3)
        self.assertEqual(fields["GetDomainName"], "EXAMPLE-WIDGETS.COM")
        self.assertEqual(fields["GetRegistrar"], "Example Registrar, LLC")
        self.assertTrue(fields["GetRegistrant"].startswith("Jan Doe\n"))
        self.assertEqual(fields["GetAdministrativeEmail"],
                         "kim@example-widgets.com")
        # The registrar's expiry date, not the registry's.
        self.assertEqual(fields["GetExpiryTime"], "2025-08-13T04:00:00Z")
        self.assertEqual(fields["GetReferralChain"], "\n".join(
            [iana.address, registry.address, registrar.address]))
        self.assertEqual(fields["GetLastErrNum"], 0)
        response = fields["GetResponse"]
        self.assertTrue(response.startswith(
            "% Answer from " + iana.address + "\n% IANA WHOIS server\n"))
        self.assertIn("% Answer from " + registry.address +
                      "\n   Domain Name:", response)
        self.assertTrue(response.endswith(registrar.answer.decode()))

    def test_two_servers_that_refer_to_each_other(self):
        first = WhoisServer()
        with WhoisServer(("Domain Name: LOOP.ZZ\nRegistrar WHOIS Server: %s\n"
                          % first.address).encode()) as second:
            first.answer = ("Domain Name: LOOP.ZZ\nRegistrar: First\n"
                            "whois: %s\n" % second.address).encode()
            with first:
                fields = self.follow(first, query="loop.zz")
                self.assertEqual(len(first.queries), 1)
                self.assertEqual(len(second.queries), 1)
        self.assertEqual(fields["GetReferralChain"],
                         first.address + "\n" + second.address)
        self.assertEqual(fields["GetRegistrar"], "First")
        self.assertEqual(fields["GetLastErrNum"], 0)

    def test_referral_to_a_server_that_never_answers(self):
        with WhoisServer(mode="silent") as silent, \
                WhoisServer(published_reply(
                    "com-registry-thin.txt", "whois.example-registrar.net",
                    silent.address)) as registry:
            fields = self.follow(registry, timeout=1)
        self.assertEqual(fields["GetDomainName"], "EXAMPLE-WIDGETS.COM")
        self.assertEqual(fields["GetExpiryTime"], "2025-08-13T04:00:00Z")
        self.assertEqual(fields["GetLastErrNum"], READ_FAILED)
        self.assertEqual(fields["GetReferralChain"],
                         registry.address + "\n" + silent.address)
        # One reply arrived: the response is that reply as received.
        self.assertEqual(fields["GetResponse"],
                         published_reply("com-registry-thin.txt",
                                         "whois.example-registrar.net",
                                         silent.address).decode())

    def test_at_most_three_further_servers(self):
        servers = [WhoisServer() for _ in range(5)]
        for number, server in enumerate(servers):
            next_one = servers[(number + 1) % len(servers)]
            server.answer = ("Domain Name: CHAIN.ZZ\nRegistrar: R%d\n"
                             "ReferralServer: whois://%s\n"
                             % (number, next_one.address)).encode()
        try:
            fields = self.follow(servers[0], query="chain.zz")
        finally:
            for server in servers:
                server.stop()
        self.assertEqual(fields["GetReferralChain"],
                         "\n".join(s.address for s in servers[:4]))
        self.assertEqual(fields["GetRegistrar"], "R3")
        self.assertEqual(servers[4].queries, [])


class WhoisCommandTest(unittest.TestCase):
    def whois(self, *args):
        return subprocess.run([program("corvane"), "whois"] + list(args),
                              capture_output=True, text=True, timeout=120)

    def test_json_object_of_every_field(self):
        with WhoisServer(DOMAIN_REPLY) as server:
            result = self.whois("--server", server.address, "--json",
                                "widget.zz")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(server.queries, [b"widget.zz\r\n"])
        answer = json.loads(result.stdout)
        self.assertEqual(answer, {
            "record_found": True,
            "registrant": DOMAIN_FIELDS["GetRegistrant"],
            "domain_name": "WIDGET.ZZ",
            "administrative_contact": JAN,
            "administrative_email": "jan@widget.zz",
            "technical_contact": JAN,
            "technical_email": "jan@widget.zz",
            "zone_contact": JAN,
            "zone_email": "jan@widget.zz",
            "billing_contact": DOMAIN_FIELDS["GetBillingContact"],
            "billing_email": "kim@widget.zz",
            "record_updated": "01-Oct-98",
            "record_created": "15-Mar-95",
            "database_updated": "5-Dec-98 15:40:41 EST",
            "domain_servers": DOMAIN_FIELDS["GetDomainServers"],
            "host_name": "",
            "coordinator": "",
            "registrar": "",
            "expiry_time": "",
            "domain_status": "",
            "referral_chain": server.address,
            "response": DOMAIN_REPLY.decode(),
        })

    def test_labelled_text(self):
        with WhoisServer(HOST_REPLY) as server:
            result = self.whois("--server", server.address, "ns1.widget.zz")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout,
                         "Record found: yes\n"
                         "Record last updated: 02-Oct-98\n"
                         "Database last updated: 6-Dec-98 10:00:00 EST\n"
                         "Host name: NS1.WIDGET.ZZ\n"
                         "Coordinator:\n"
                         "    Doe, Jan  (JD1)  jan@widget.zz\n"
                         "          555 0100\n"
                         "Servers asked: %s\n" % server.address)

    def test_follow_prints_the_registrars_fields(self):
        with registrar_server() as registrar, \
                WhoisServer(published_reply(
                    "com-registry-thin.txt", "whois.example-registrar.net",
                    registrar.address)) as registry:
            result = self.whois("--server", registry.address, "--follow",
                                "--json", "example-widgets.com")
        self.assertEqual(result.returncode, 0, result.stderr)
        answer = json.loads(result.stdout)
        self.assertEqual(answer["registrar"], "Example Registrar, LLC")
        self.assertEqual(answer["domain_status"],
                         "clientDeleteProhibited\nclientTransferProhibited")
        self.assertEqual(answer["technical_email"],
                         "hostmaster@example-hosting.net")
        self.assertEqual(answer["referral_chain"],
                         registry.address + "\n" + registrar.address)

    def test_failure_exits_1_with_the_description(self):
        result = self.whois("--server", REFUSING.address,
                            "--json", "widget.zz")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr,
                         "Unable to establish connection with Whois Server. "
                         "Connection refused.\n")
        with WhoisServer(mode="silent") as server:
            result = self.whois("--server", server.address, "--timeout", "1",
                                "widget.zz")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "Network Error: Unable to read. "
                         "Connection timed out.\n")


if __name__ == "__main__":
    unittest.main()
