# SPDX-License-Identifier: Apache-2.0
"""Namewell's RDAP bootstraps against a loopback server that plays the
registry: a fresh file, a 304, a broken file that leaves the copy, no
network that leaves the shipped table, the override file; and IP address
and AS number lookups on loopback RDAP and whois servers."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

from support.page_script import run_page_script
from support.ports import free_port
from support.programs import program
from support.rdap_server import RdapServer, Route
from support.whois_server import WhoisServer


def bootstrap(services, publication="2026-12-08T00:00:00Z"):
    return {"description": "test bootstrap", "publication": publication,
            "services": services, "version": "1.0"}


NETWORK_ANSWER = {
    "objectClassName": "ip network", "handle": "NET-192-0-2-0-1",
    "startAddress": "192.0.2.0", "endAddress": "192.0.2.255",
    "name": "TEST-NET-1", "country": "ZZ",
    "entities": [{"roles": ["abuse"], "vcardArray": ["vcard", [
        ["fn", {}, "text", "Abuse Desk"],
        ["email", {}, "text", "abuse@net.zz"]]]}],
}
AUTNUM_ANSWER = {"objectClassName": "autnum", "startAutnum": 64500,
                 "endAutnum": 64511, "name": "WIDGET-AS", "country": "ZZ"}

# A regional registry that points to another, and that one's record.
ARIN_REPLY = (b"NetRange:       192.0.0.0 - 192.255.255.255\r\n"
              b"NetName:        PARENT-NET\r\n"
              b"ReferralServer: whois://%s\r\n")
RIPE_REPLY = (b"% Abuse contact for '192.0.2.0 - 192.0.2.255' is "
              b"'abuse@net.zz'\n\n"
              b"inetnum:        192.0.2.0 - 192.0.2.255\n"
              b"netname:        TEST-NET-1\n"
              b"country:        ZZ\n")


class BootstrapTestCase(unittest.TestCase):
    def setUp(self):
        root = tempfile.mkdtemp(prefix="rdap-bootstrap-")
        self.addCleanup(shutil.rmtree, root)
        self.data = os.path.join(root, "data")
        self.cache = os.path.join(root, "cache")
        self.config = os.path.join(root, "config")
        os.makedirs(self.data)
        os.makedirs(os.path.join(self.config, "corvane"))
        self.rdap = RdapServer()
        self.addCleanup(self.rdap.stop)
        self.iana = RdapServer()
        self.addCleanup(self.iana.stop)
        self.iana_url = self.iana.base + "rdap/"
        self.env = dict(os.environ, CORVANE_DATA=self.data,
                        XDG_CACHE_HOME=self.cache,
                        XDG_CONFIG_HOME=self.config,
                        CORVANE_RDAP_BOOTSTRAP_URL=self.iana_url)
        # The shipped table knows "zz" only.
        self.write(os.path.join(self.data, "rdap-bootstrap.json"),
                   bootstrap([[["zz"], [self.rdap.base + "shipped/"]]]))
        self.rdap.routes["/shipped/domain/widget.zz"] = Route(
            200, {"ldhName": "widget.zz"})
        self.rdap.routes["/fetched/domain/widget.qq"] = Route(
            200, {"ldhName": "widget.qq"})

    @staticmethod
    def write(path, document):
        with open(path, "w") as f:
            json.dump(document, f)

    def publish(self, headers=(), etag='"v1"', dns=None):
        """The registry's four files, listing the loopback RDAP server."""
        fetched = [self.rdap.base + "fetched/"]
        files = {
            "dns.json": dns or bootstrap([[["qq"], fetched]]),
            "ipv4.json": bootstrap([[["192.0.2.0/24"], fetched]]),
            "ipv6.json": bootstrap([[["2001:db8::/32"], fetched]]),
            "asn.json": bootstrap([[["64496-64511"], fetched]]),
        }
        for name, document in files.items():
            self.iana.routes["/rdap/" + name] = Route(
                200, document, headers=list(headers), etag=etag)

    def cached(self, name="dns.json"):
        path = os.path.join(self.cache, "corvane", "rdap-" + name)
        with open(path, "rb") as f:
            return f.read()

    def whois(self, *args):
        return subprocess.run([program("corvane"), "whois"] + list(args),
                              env=self.env, capture_output=True, text=True,
                              timeout=120)

    def query(self, name, protocol="rdap", refresh=False, gets=(),
              **puts):
        steps = [{"create": "Corvane.WhoisQuery", "as": "w"},
                 {"put": "Protocol", "on": "w", "value": protocol},
                 {"put": "RefreshBootstrap", "on": "w", "value": refresh}]
        for member, value in puts.items():
            steps.append({"put": member, "on": "w", "value": value})
        steps.append({"call": "SendQuery", "on": "w", "args": [name]})
        for member in ("GetLastErrDescription",) + tuple(gets):
            steps.append({"get": member, "on": "w"})
        answers, result = run_page_script(steps, env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        return [a["value"] for a in answers[-len(gets) - 1:]]


class BootstrapRefreshTest(BootstrapTestCase):
    def test_fetch_then_304_then_broken_file(self):
        self.publish(headers=[("Cache-Control", "max-age=3600")])
        result = self.whois("--update-bootstrap")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("dns.json: fetched (1 entries, published "
                      "2026-12-08T00:00:00Z) into " + self.cache +
                      "/corvane/rdap-dns.json", result.stdout)
        first = self.cached()
        self.assertEqual(json.loads(first)["services"][0][0], ["qq"])

        # Asked again, the registry answers 304 to the copy's ETag.
        result = self.whois("--update-bootstrap")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("dns.json: unchanged", result.stdout)
        self.assertEqual(self.iana.conditions[-4:], ['"v1"'] * 4)

        # A file that is no bootstrap is refused and the copy stays.
        self.iana.routes["/rdap/dns.json"] = Route(200, b"<html>oops")
        result = self.whois("--update-bootstrap", "--bootstrap-url",
                            self.iana_url)
        self.assertEqual(result.returncode, 1)
        self.assertIn("dns.json: not updated: " + self.iana_url +
                      "dns.json is not an RDAP bootstrap file: it is not "
                      "JSON", result.stdout)
        self.assertEqual(self.cached(), first)
        self.assertEqual(self.query("widget.qq")[0], "")

    def test_lookup_renews_a_stale_copy_only(self):
        self.publish(headers=[("Cache-Control", "max-age=3600")])
        self.assertEqual(self.query("widget.qq", refresh=True,
                                    gets=("GetDomainName",)),
                         ["", "widget.qq"])
        self.assertEqual(self.query("widget.qq", refresh=True)[0], "")
        fetches = [p for p, _ in self.iana.requests if p.endswith(".json")]
        self.assertEqual(fetches, ["/rdap/dns.json"])
        # Without RefreshBootstrap nothing is fetched, and no copy means the
        # shipped table.
        shutil.rmtree(os.path.join(self.cache, "corvane"))
        self.assertEqual(self.query("widget.zz", gets=("GetDomainName",)),
                         ["", "widget.zz"])
        self.assertEqual(len(self.iana.requests), 1)

    def test_no_network_leaves_the_shipped_table(self):
        closed = "http://127.0.0.1:%d/rdap/" % free_port()
        self.assertEqual(self.query("widget.zz", refresh=True,
                                    BootstrapUrl=closed,
                                    gets=("GetDomainName",)),
                         ["", "widget.zz"])
        result = self.whois("--update-bootstrap", "--bootstrap-url", closed)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Unable to establish connection", result.stderr)
        self.assertFalse(os.path.exists(
            os.path.join(self.cache, "corvane", "rdap-dns.json")))

    def test_override_file(self):
        self.write(os.path.join(self.config, "corvane", "rdap-override.json"),
                   bootstrap([[["qq"], [self.rdap.base + "fetched/"]]]))
        self.assertEqual(self.query("widget.qq", gets=("GetDomainName",)),
                         ["", "widget.qq"])


class NetworkLookupTest(BootstrapTestCase):
    NETWORK_GETS = ("GetNetworkRange", "GetNetworkName", "GetCountry",
                    "GetAbuseEmail")

    def test_address_and_as_number_over_rdap(self):
        self.publish()
        self.assertEqual(self.whois("--update-bootstrap").returncode, 0)
        self.rdap.routes["/fetched/ip/192.0.2.7"] = Route(200, NETWORK_ANSWER)
        self.rdap.routes["/fetched/autnum/64500"] = Route(200, AUTNUM_ANSWER)
        self.assertEqual(self.query("192.0.2.7", gets=self.NETWORK_GETS),
                         ["", "192.0.2.0 - 192.0.2.255", "TEST-NET-1", "ZZ",
                          "abuse@net.zz"])
        self.assertEqual(self.query("as64500", gets=self.NETWORK_GETS),
                         ["", "64500 - 64511", "WIDGET-AS", "ZZ", ""])
        # Addresses no bootstrap lists are refused before anything is sent.
        self.assertIn("No RDAP server is known for 198.51.100.1",
                      self.query("198.51.100.1")[0])

    def test_address_over_whois_follows_the_registries(self):
        with WhoisServer(RIPE_REPLY) as ripe:
            with WhoisServer(ARIN_REPLY % ripe.address.encode()) as arin:
                result = self.whois("--server", arin.address, "--follow",
                                    "--json", "192.0.2.7")
        self.assertEqual(result.returncode, 0, result.stderr)
        answer = json.loads(result.stdout)
        self.assertEqual(
            {k: answer[k] for k in ("network_range", "network_name",
                                    "country", "abuse_email")},
            {"network_range": "192.0.2.0 - 192.0.2.255",
             "network_name": "TEST-NET-1", "country": "ZZ",
             "abuse_email": "abuse@net.zz"})
        self.assertEqual(arin.queries, [b"192.0.2.7\r\n"])
        self.assertEqual(ripe.queries, [b"192.0.2.7\r\n"])


if __name__ == "__main__":
    unittest.main()
