# SPDX-License-Identifier: Apache-2.0
"""Corvane.WhoisQuery over RDAP against a scripted HTTP server on loopback,
driven through `corvane run` and `corvane whois`: the registry's and the
registrar's answers, not found, error objects, redirects, time-out, the
reply bound, the bootstrap and its update."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

from support.certificates import make_certificate, server_context
from support.page_script import run_page_script
from support.programs import program
from support.rdap_server import RdapServer, Route
from support.whois_fixtures import DOMAIN_REPLY
from support.whois_server import WhoisServer

QUERY_REFUSED = -2147221503
CONNECT_FAILED = -2147221500
READ_FAILED = -2147221499
THROTTLED = -2147221497


def vcard(*properties):
    return ["vcard", [["version", {}, "text", "4.0"]] + list(properties)]


def registry_answer(registrar_url):
    return {
        "objectClassName": "domain",
        "ldhName": "WIDGET.ZZ",
        "links": [
            {"rel": "self", "href": "x", "type": "application/rdap+json"},
            {"rel": "related", "href": registrar_url,
             "type": "application/rdap+json"}],
        "status": ["client transfer prohibited", "server hold"],
        "entities": [{
            "objectClassName": "entity", "roles": ["registrar"],
            "vcardArray": vcard(["fn", {}, "text", "Widget Registrar"]),
            "entities": [{"roles": ["abuse"], "vcardArray": vcard(
                ["email", {}, "text", "abuse@registrar.zz"])}]}],
        "events": [
            {"eventAction": "registration",
             "eventDate": "1995-03-15T05:00:00Z"},
            {"eventAction": "expiration",
             "eventDate": "2030-03-14T05:00:00Z"},
            {"eventAction": "last changed",
             "eventDate": "2025-10-01T12:00:00Z"},
            {"eventAction": "last update of RDAP database",
             "eventDate": "2026-12-08T07:00:00Z"}],
        "nameservers": [{"ldhName": "NS1.WIDGET.ZZ"},
                        {"ldhName": "NS2.WIDGET.ZZ"}],
    }


REGISTRAR_ANSWER = {
    "objectClassName": "domain",
    "ldhName": "widget.zz",
    "entities": [
        {"roles": ["registrant"], "vcardArray": vcard(
            ["fn", {}, "text", "Jan Doe"],
            ["org", {}, "text", "Widget Works"],
            ["adr", {}, "text", ["", "", "1 Main Street", "Springfield",
                                 "XX", "00000", "ZZ"]],
            ["email", {}, "text", "jan@widget.zz"])},
        {"roles": ["administrative"], "vcardArray": vcard(
            ["fn", {}, "text", "Kim Roe"],
            ["tel", {}, "uri", "tel:+1.5550100"],
            ["email", {}, "text", "kim@widget.zz"])},
        {"roles": ["technical", "billing"], "vcardArray": vcard(
            ["fn", {}, "text", "Lee Poe"],
            ["email", {}, "text", "lee@widget.zz"])}],
    "events": [{"eventAction": "expiration",
                "eventDate": "2030-03-14T23:59:59Z"}],
}

# Every field after asking the registry and then the registrar: the
# registrar's fields win, the registry's fill the rest.
FOLLOWED_FIELDS = {
    "IsRecordFound": True,
    "GetDomainName": "widget.zz",
    "GetRegistrant": "Jan Doe\nWidget Works\n1 Main Street\nSpringfield\n"
                     "XX\n00000\nZZ",
    "GetAdministrativeContact": "Kim Roe\ntel:+1.5550100\nkim@widget.zz",
    "GetAdministrativeEmail": "kim@widget.zz",
    "GetTechnicalContact": "Lee Poe\nlee@widget.zz",
    "GetTechnicalEmail": "lee@widget.zz",
    "GetZoneContact": "",
    "GetZoneEmail": "",
    "GetBillingContact": "Lee Poe\nlee@widget.zz",
    "GetbillingEmail": "lee@widget.zz",
    "GetRecordLastUpdateTime": "2025-10-01T12:00:00Z",
    "GetRecordCreateTime": "1995-03-15T05:00:00Z",
    "GetDatabaseLastUpdateTime": "2026-12-08T07:00:00Z",
    "GetExpiryTime": "2030-03-14T23:59:59Z",
    "GetDomainServers": "NS1.WIDGET.ZZ\nNS2.WIDGET.ZZ",
    "GetDomainStatus": "client transfer prohibited\nserver hold",
    "GetRegistrar": "Widget Registrar",
    "gethostname": "",
    "GetCoordinator": "",
}


def bootstrap(services):
    return {"description": "test bootstrap", "publication":
            "2026-12-08T00:00:00Z", "services": services, "version": "1.0"}


class RdapTestCase(unittest.TestCase):
    def setUp(self):
        self.data = tempfile.mkdtemp(prefix="rdap-data-")
        self.addCleanup(shutil.rmtree, self.data)
        self.env = dict(os.environ, CORVANE_DATA=self.data)
        self.server = RdapServer()
        self.addCleanup(self.server.stop)
        self.install_bootstrap([[["zz", "example.yy"], [self.server.base]]])

    def install_bootstrap(self, services):
        with open(os.path.join(self.data, "rdap-bootstrap.json"), "w") as f:
            json.dump(bootstrap(services), f)

    def route(self, path, *args, **kwargs):
        self.server.routes[path] = Route(*args, **kwargs)

    def query(self, name="widget.zz", protocol="rdap", server=None,
              extra=(), **puts):
        """SendQuery's answer and the values of the extra gets."""
        steps = [{"create": "Corvane.WhoisQuery", "as": "w"},
                 {"page": "p"},
                 {"call": "OnStartPage", "on": "w", "args": [{"ref": "p"}]},
                 {"put": "Protocol", "on": "w", "value": protocol}]
        if server is not None:
            steps.append({"put": "RdapServer", "on": "w", "value": server})
        for member, value in puts.items():
            steps.append({"put": member, "on": "w", "value": value})
        steps.append({"call": "SendQuery", "on": "w", "args": [name]})
        gets = [{"get": member, "on": "w"} for member in extra]
        answers, result = run_page_script(steps + gets, env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        values = [a.get("value") for a in answers]
        return values[len(steps) - 1], dict(zip(extra, values[len(steps):]))

    def failure(self, **kwargs):
        sent, got = self.query(extra=["GetLastErrNum", "GetLastErrDescription",
                                      "IsRecordFound"], **kwargs)
        self.assertFalse(sent)
        self.assertFalse(got["IsRecordFound"])
        return got["GetLastErrNum"], got["GetLastErrDescription"]


class RdapQueryTest(RdapTestCase):
    def test_registry_then_registrar_every_field(self):
        registrar_path = "/registrar/domain/widget.zz"
        registry = registry_answer(self.server.base + registrar_path[1:])
        self.route("/domain/Widget.ZZ", 200, registry)
        self.route(registrar_path, 200, REGISTRAR_ANSWER)
        members = list(FOLLOWED_FIELDS) + ["GetResponse", "GetReferralChain",
                                           "GetLastErrNum"]
        sent, got = self.query("  Widget.ZZ ", extra=members,
                               FollowReferral=True)
        self.assertTrue(sent)
        self.assertEqual(self.server.requests, [
            ("/domain/Widget.ZZ", "application/rdap+json"),
            (registrar_path, "application/rdap+json")])
        for member, value in FOLLOWED_FIELDS.items():
            self.assertEqual(got[member], value, member)
        first = self.server.base + "domain/Widget.ZZ"
        second = self.server.base + registrar_path[1:]
        self.assertEqual(got["GetReferralChain"], first + "\n" + second)
        self.assertEqual(
            got["GetResponse"],
            "% Answer from " + first + "\n" + json.dumps(registry) + "\n" +
            "% Answer from " + second + "\n" + json.dumps(REGISTRAR_ANSWER) +
            "\n")
        self.assertEqual(got["GetLastErrNum"], 0)

    def test_registry_alone_without_follow(self):
        registry = registry_answer(self.server.base + "registrar/x")
        self.route("/domain/widget.zz", 200, registry)
        sent, got = self.query(extra=["GetRegistrar", "GetRegistrant",
                                      "GetResponse", "IsRecordFound"])
        self.assertTrue(sent)
        self.assertEqual(len(self.server.requests), 1)
        self.assertEqual(got, {"GetRegistrar": "Widget Registrar",
                               "GetRegistrant": "",
                               "GetResponse": json.dumps(registry),
                               "IsRecordFound": True})

    def test_not_found(self):
        sent, got = self.query(extra=["IsRecordFound", "GetDomainName",
                                      "GetResponse", "GetLastErrNum"])
        self.assertTrue(sent)
        self.assertFalse(got["IsRecordFound"])
        self.assertEqual(got["GetDomainName"], "")
        self.assertEqual(json.loads(got["GetResponse"])["errorCode"], 404)
        self.assertEqual(got["GetLastErrNum"], 0)

    def test_error_answers_take_the_failure_path(self):
        url = self.server.base + "domain/widget.zz"
        rows = [
            (Route(503, b"<html>down</html>"),
             "The RDAP server answered 503. URL: " + url),
            (Route(200, b"[1, 2]"),
             "Network Error: Unable to read. The answer is not an RDAP JSON "
             "object. URL: " + url),
        ]
        for route, description in rows:
            self.server.routes["/domain/widget.zz"] = route
            number, text = self.failure()
            self.assertEqual((number, text), (READ_FAILED, description))

    def test_rate_limit_is_its_own_failure_with_the_wait(self):
        url = self.server.base + "domain/widget.zz"
        error = {"errorCode": 429, "title": "Too Many Requests",
                 "description": ["Query rate exceeded."]}
        rows = [
            (Route(429, error, [("Retry-After", "120")]), 120,
             " Wait 120 seconds."),
            (Route(429, error), 0, ""),
        ]
        for route, wait, wait_text in rows:
            self.server.routes["/domain/widget.zz"] = route
            sent, got = self.query(extra=[
                "GetLastErrNum", "GetLastErrDescription", "IsRecordFound",
                "GetRetryAfter"])
            self.assertFalse(sent)
            self.assertFalse(got["IsRecordFound"])
            self.assertEqual(got["GetLastErrNum"], THROTTLED)
            self.assertEqual(got["GetLastErrDescription"],
                             "Rate limited: the RDAP server answered 429: "
                             "Too Many Requests. Query rate exceeded." +
                             wait_text + " URL: " + url)
            self.assertEqual(got["GetRetryAfter"], wait)

    def test_redirects_followed_at_most_three(self):
        self.route("/domain/widget.zz", 200, {"ldhName": "WIDGET.ZZ"})
        for hop in range(1, 5):
            self.route("/hop%d/domain/widget.zz" % hop, 302, b"",
                       [("Location", "/hop%d/domain/widget.zz" % (hop - 1)
                         if hop > 1 else "/domain/widget.zz")])
        sent, got = self.query(server=self.server.base + "hop3",
                               extra=["GetDomainName"])
        self.assertTrue(sent)
        self.assertEqual(got["GetDomainName"], "WIDGET.ZZ")
        self.assertEqual(len(self.server.requests), 4)

        number, text = self.failure(server=self.server.base + "hop4")
        self.assertEqual(number, READ_FAILED)
        self.assertEqual(text, "Network Error: Unable to read. More than 3 "
                         "redirects. URL: " + self.server.base +
                         "hop1/domain/widget.zz")

    def test_plain_http_elsewhere_is_refused_without_connecting(self):
        refused = ("The RDAP URL is refused (plain http is allowed to "
                   "loopback addresses only); nothing was sent. URL: ")
        number, text = self.failure(server="http://192.0.2.1/rdap/")
        self.assertEqual((number, text),
                         (QUERY_REFUSED,
                          refused + "http://192.0.2.1/rdap/domain/widget.zz"))
        self.route("/domain/widget.zz", 301, b"",
                   [("Location", "http://192.0.2.1/domain/widget.zz")])
        number, text = self.failure()
        self.assertEqual((number, text), (
            QUERY_REFUSED, "The RDAP server redirected to a refused URL "
            "(plain http is allowed to loopback addresses only); it was not "
            "asked. URL: http://192.0.2.1/domain/widget.zz"))

    def test_https_checks_the_certificate(self):
        folder = tempfile.mkdtemp(prefix="rdap-tls-")
        self.addCleanup(shutil.rmtree, folder)
        context = server_context(*make_certificate(folder))
        with RdapServer({"/domain/widget.zz": Route(200, {"ldhName": "x"})},
                        tls_context=context) as server:
            number, text = self.failure(server=server.base)
        self.assertEqual(number, CONNECT_FAILED)
        self.assertTrue(text.startswith(
            "Unable to establish connection with Whois Server. SSL "
            "certificate problem: self-signed certificate"), text)
        self.assertTrue(text.endswith(" URL: " + server.base +
                                      "domain/widget.zz"), text)
        self.assertEqual(server.requests, [])

    def test_slow_answer_times_out(self):
        self.route("/domain/widget.zz", 200, {"ldhName": "x"}, delay=10)
        number, text = self.failure(Timeout=1)
        self.assertEqual((number, text), (
            READ_FAILED, "Network Error: Unable to read. Connection timed "
            "out. URL: " + self.server.base + "domain/widget.zz"))

    def test_answers_beyond_the_bound(self):
        too_long = ("Network Error: Unable to read. The reply is longer than "
                    "8388608 bytes. URL: " + self.server.base +
                    "domain/widget.zz")
        nine_mib = b"{" + b" " * (9 * 1024 * 1024) + b"}"
        for route in (Route(200, nine_mib), Route(200, nine_mib, length=False),
                      Route(200, stream=True)):
            self.server.routes["/domain/widget.zz"] = route
            self.assertEqual(self.failure(), (READ_FAILED, too_long))

    def test_refused_connection(self):
        port = self.server.port
        self.server.stop()
        number, text = self.failure(server="http://127.0.0.1:%d/" % port)
        self.assertEqual((number, text), (
            CONNECT_FAILED, "Unable to establish connection with Whois "
            "Server. Connection refused. URL: http://127.0.0.1:%d/domain/"
            "widget.zz" % port))


class RdapBootstrapTest(RdapTestCase):
    def test_bootstrap_chooses_the_server(self):
        rows = [("widget.zz", "rdap", "/domain/widget.zz"),
                ("WIDGET.ZZ.", "auto", "/domain/WIDGET.ZZ"),
                ("shop.example.yy", "Auto", "/domain/shop.example.yy"),
                ("b\u00fccher.zz", "rdap", "/domain/xn--bcher-kva.zz")]
        for name, protocol, path in rows:
            self.route(path, 200, {"ldhName": name.upper()})
            sent, got = self.query(name, protocol, extra=["GetDomainName"])
            self.assertTrue(sent, name)
            self.assertEqual(got["GetDomainName"], name.upper())
        self.assertEqual([r[0] for r in self.server.requests],
                         [r[2] for r in rows])

    def test_domain_without_rdap_server(self):
        path = os.path.join(self.data, "rdap-bootstrap.json")
        number, text = self.failure(name="widget.yy")
        self.assertEqual((number, text), (
            QUERY_REFUSED, 'No RDAP server is known for the top-level domain '
            '"yy" (RDAP bootstrap file ' + path + '); nothing was sent.'))
        with WhoisServer(DOMAIN_REPLY) as whois:
            sent, got = self.query("widget.yy", "auto",
                                   extra=["GetDomainName"],
                                   WhoisServer=whois.address)
        self.assertTrue(sent)
        self.assertEqual(got["GetDomainName"], "WIDGET.ZZ")
        self.assertEqual(whois.queries, [b"widget.yy\r\n"])
        self.assertEqual(self.server.requests, [])

    def test_whois_protocol_and_unknown_protocol(self):
        with WhoisServer(DOMAIN_REPLY) as whois:
            sent, _ = self.query("widget.zz", "whois",
                                 WhoisServer=whois.address)
            self.assertTrue(sent)
            self.assertEqual(len(whois.queries), 1)
            number, text = self.failure(protocol="gopher")
        self.assertEqual((number, text), (
            QUERY_REFUSED, 'Protocol must be "whois", "rdap" or "auto"; '
            'nothing was sent.'))
        self.assertEqual(self.server.requests, [])

    def test_missing_bootstrap(self):
        os.remove(os.path.join(self.data, "rdap-bootstrap.json"))
        number, text = self.failure()
        self.assertEqual(number, QUERY_REFUSED)
        self.assertTrue(text.startswith("The RDAP bootstrap file " +
                                        self.data + "/rdap-bootstrap.json "
                                        "cannot be read: "), text)


class RdapCommandTest(RdapTestCase):
    def whois(self, *args):
        return subprocess.run([program("corvane"), "whois"] + list(args),
                              env=self.env, capture_output=True, text=True,
                              timeout=120)

    def test_json_over_rdap(self):
        self.route("/private/domain/widget.zz", 200, REGISTRAR_ANSWER)
        result = self.whois("--protocol", "rdap", "--rdap-server",
                            self.server.base + "private", "--json",
                            "widget.zz")
        self.assertEqual(result.returncode, 0, result.stderr)
        answer = json.loads(result.stdout)
        self.assertEqual(answer["registrant"],
                         FOLLOWED_FIELDS["GetRegistrant"])
        self.assertEqual(answer["technical_email"], "lee@widget.zz")
        self.assertEqual(answer["response"], json.dumps(REGISTRAR_ANSWER))

    def test_update_bootstrap(self):
        installed = os.path.join(self.data, "rdap-bootstrap.json")
        new = os.path.join(self.data, "new.json")
        with open(new, "w") as f:
            json.dump(bootstrap([[["zz"], ["https://rdap.zz.example/"]],
                                 [["yy"], ["https://rdap.yy.example/"]]]), f)
        result = self.whois("--update-bootstrap", new)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout,
                         "Installed the RDAP bootstrap of 2026-12-08T00:00:00Z"
                         " (2 entries) as " + installed + "\n")
        with open(new) as f, open(installed) as g:
            self.assertEqual(f.read(), g.read())

        with open(new, "w") as f:
            f.write('{"version": "1.0", "publication": "x", "services": 7}')
        result = self.whois("--update-bootstrap", new)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr,
                         "corvane whois: " + new + ' is not an RDAP bootstrap '
                         'file: "services" is missing or not a list; the '
                         "installed RDAP bootstrap is unchanged.\n")
        with open(installed) as g:
            self.assertIn("rdap.yy.example", g.read())
        self.assertEqual(sorted(os.listdir(self.data)),
                         ["new.json", "rdap-bootstrap.json"])


if __name__ == "__main__":
    unittest.main()
