"""Corvane.WhoisQuery against a scripted whois server on loopback, driven
through the real programs: page scripts run by `corvane run`, and
`corvane whois`."""

import json
import subprocess
import unittest

from support.programs import program
from support.whois_fixtures import (DOMAIN_FIELDS, DOMAIN_REPLY, HOST_REPLY,
                                    JAN, NO_MATCH_REPLY)
from support.whois_server import WhoisServer, free_port

CONNECT_FAILED = -2147221500
READ_FAILED = -2147221499
NO_SUCH_HOST = "no..where.invalid"  # rejected by the resolver itself


def run_page(steps):
    """Runs a page script; the answers of its steps, in order."""
    script = "".join(json.dumps(step) + "\n" for step in steps)
    result = subprocess.run([program("corvane"), "run", "-"], input=script,
                            capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError(result.stderr)
    return [json.loads(line) for line in result.stdout.splitlines()]


def query_steps(server, query="widget.zz", timeout=None):
    steps = [{"create": "Corvane.WhoisQuery", "as": "w"},
             {"page": "p"},
             {"call": "OnStartPage", "on": "w", "args": [{"ref": "p"}]},
             {"put": "WhoisServer", "on": "w", "value": server}]
    if timeout is not None:
        steps.append({"put": "Timeout", "on": "w", "value": timeout})
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

    def test_refused_connection(self):
        sent, values = self.query("127.0.0.1:%d" % free_port(),
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
        refused = "127.0.0.1:%d" % free_port()
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
                         "          555 0100\n")

    def test_failure_exits_1_with_the_description(self):
        result = self.whois("--server", "127.0.0.1:%d" % free_port(),
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
