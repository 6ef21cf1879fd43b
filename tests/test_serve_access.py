# SPDX-License-Identifier: Apache-2.0
"""Who may use `corvane serve`: the address with the access token that it
prints, named accounts written by --add-user, the session cookie, the form
token of every post, the wait after failed log-ins and --no-auth; and the
Whois page's answers as a person reads them."""

import os
import re
import shutil
import socket
import subprocess
import tempfile
import unittest
import urllib.parse

from support.certificates import make_certificate
from support.console import Console
from support.programs import program
from support.whois_fixtures import DOMAIN_REPLY, NO_MATCH_REPLY
from support.whois_server import WhoisServer


class ConsoleAccess(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="corvane-access-")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.users = os.path.join(self.scratch, "users")

    def add_user(self, name, password):
        return subprocess.run(
            [program("corvane"), "serve", "--users", self.users,
             "--add-user", name], input=password + "\n", text=True,
            capture_output=True, timeout=60)

    def stranger(self, console, method, path, body=None, headers=None):
        """A request without the session: (status, page, headers)."""
        cookie, console.cookie = console.cookie, ""
        try:
            return console.request(method, path, body, headers)
        finally:
            console.cookie = cookie

    def test_the_token_address_or_an_account_opens_the_console(self):
        self.assertEqual(self.add_user("alice", "first secret").returncode, 0)
        self.assertEqual(self.add_user("bob", "bob's").returncode, 0)
        added = self.add_user("alice", "open sesame")  # a new password
        self.assertEqual(added.returncode, 0, added.stderr)
        with open(self.users) as users:
            lines = users.read().splitlines()
        self.assertEqual([line.split(":")[0] for line in lines],
                         ["alice", "bob"])
        self.assertNotIn("open sesame", lines[0])
        self.assertEqual(os.stat(self.users).st_mode & 0o777, 0o600)

        with Console(os.path.join(self.scratch, "var"),
                     "--users", self.users) as console:
            # Without the session: the login page, for every page.
            for path in ("/", "/files", "/files/download?path=x"):
                status, page, _ = self.stranger(console, "GET", path)
                self.assertEqual(status, 401, path)
                self.assertIn('action="/login"', page)
                self.assertNotIn('href="/mail"', page)
            status, page, _ = self.stranger(
                console, "GET", "/files?token=" + "0" * 48)
            self.assertEqual(status, 401)
            self.assertIn("a wrong token", page)

            # The printed address: a session cookie, and the same address
            # without the token.
            token = console.login_url.split("token=")[1]
            status, _, headers = self.stranger(
                console, "GET", f"/files?path=uploads&token={token}")
            self.assertEqual(status, 303)
            self.assertEqual(headers["Location"], "/files?path=uploads")
            self.assertRegex(headers["Set-Cookie"],
                             r"^corvane_session=[0-9a-f]{64}; Path=/; "
                             r"HttpOnly; SameSite=Strict$")

            # A named account, on the login page.
            def log_in(user, password):
                body = urllib.parse.urlencode(
                    {"next": "/mail", "user": user, "password": password})
                return self.stranger(
                    console, "POST", "/login", body,
                    {"Content-Type": "application/x-www-form-urlencoded",
                     "Origin": console.origin})

            status, page, _ = log_in("alice", "first secret")
            self.assertEqual(status, 401)
            self.assertIn("do not match an account", page)
            status, _, headers = log_in("alice", "open sesame")
            self.assertEqual(status, 303)
            self.assertEqual(headers["Location"], "/mail")
            cookie = headers["Set-Cookie"].split(";")[0]
            status, page, _ = self.stranger(console, "GET", "/mail",
                                            headers={"Cookie": cookie})
            self.assertEqual(status, 200)
            self.assertIn('href="/mail" aria-current="page"', page)

            # A form posted without its session's form token is refused,
            # even from the console's own origin.
            status, page, _ = self.stranger(
                console, "POST", "/whois", "query=widget.zz",
                {"Cookie": cookie, "Origin": console.origin,
                 "Content-Type": "application/x-www-form-urlencoded"})
            self.assertEqual(status, 403)
            self.assertIn("form token", page)

            # Failed log-ins make the address wait, whatever it tries next.
            self.assertEqual(log_in("bob", "wrong")[0], 401)
            self.assertEqual(log_in("bob", "wrong again")[0], 401)
            status, page, headers = log_in("bob", "bob's")
            self.assertEqual(status, 429)
            self.assertIn("try again in", page)
            self.assertGreaterEqual(int(headers["Retry-After"]), 1)

            # Logging out ends the session.
            status, _, headers = console.request(
                "POST", "/logout", "",
                {"Content-Type": "application/x-www-form-urlencoded",
                 "Origin": console.origin})
            self.assertEqual(status, 303)
            self.assertEqual(console.get("/")[0], 401)

    def test_no_auth_serves_without_log_in_but_keeps_the_origin_check(self):
        with Console(os.path.join(self.scratch, "var"),
                     "--no-auth") as console:
            self.assertIsNone(console.login_url)
            status, page = console.get("/")
            self.assertEqual(status, 200)
            self.assertNotIn("form_token", page)
            self.assertNotIn("log-out", page)
            self.assertEqual(console.post(
                "/whois", {"query": "x.zz"}, origin="http://evil.test")[0],
                403)

    def test_https_with_a_certificate_of_its_own(self):
        certificate, key = make_certificate(self.scratch)
        with Console(os.path.join(self.scratch, "var"), "--tls-cert",
                     certificate, "--tls-key", key) as console:
            self.assertTrue(console.login_url.startswith("https://"))
            status, _, headers = self.stranger(
                console, "GET", "/?token=" + console.login_url.split("=")[1])
            self.assertTrue(headers["Set-Cookie"].endswith("; Secure"))
            status, page = console.post("/upload", {"title": "x"})
            self.assertEqual(status, 200)
            # The plain origin of the same address is another site.
            plain = console.origin.replace("https:", "http:")
            status, page = console.post("/upload", {"title": "x"},
                                        origin=plain)
            self.assertEqual(status, 403)
        mismatched = Console(os.path.join(self.scratch, "var"), "--tls-cert",
                             certificate, "--tls-key", certificate)
        with self.assertRaisesRegex(RuntimeError, "cannot use the certif"):
            mismatched.__enter__()
        mismatched.log.close()

    def test_over_https_an_answer_that_closes_ends_the_connection(self):
        # A client that keeps writing after an answer that closes (here a
        # GET whose body is a request) gets nothing more served.
        certificate, key = make_certificate(self.scratch)
        with Console(os.path.join(self.scratch, "var"), "--tls-cert",
                     certificate, "--tls-key", key) as console:
            host = (f"Host: 127.0.0.1:{console.port}\r\n"
                    f"Cookie: {console.cookie}\r\n")
            smuggled = f"GET /smuggled HTTP/1.1\r\n{host}\r\n"
            plain = socket.create_connection(("127.0.0.1", console.port))
            with console.tls.wrap_socket(
                    plain, server_hostname="127.0.0.1") as tls:
                tls.settimeout(30)
                tls.sendall((f"GET / HTTP/1.1\r\n{host}Content-Length: "
                             f"{len(smuggled)}\r\n\r\n{smuggled}").encode())
                answer = b""
                while b"</html>" not in answer:
                    answer += tls.recv(65536)
                self.assertIn(b"Connection: close", answer)
                try:
                    tls.sendall(f"GET /style.css HTTP/1.1\r\n{host}\r\n"
                                .encode())
                    while tls.recv(65536):
                        pass
                except OSError:
                    pass  # the console has closed the connection
            self.assertNotIn("/smuggled", console.server_log())
            self.assertNotIn("/style.css", console.server_log())

    def test_whois_puts_the_asked_fields_first_and_no_record_in_a_sentence(
            self):
        with WhoisServer(DOMAIN_REPLY) as found, \
                Console(os.path.join(self.scratch, "var"),
                        whois=found.address) as console:
            status, page = console.post("/whois", {"query": "widget.zz"})
        self.assertEqual(status, 200)
        labels = re.findall(r"<th>([^<]+)</th>", page)
        self.assertEqual(labels[:5], ["Record found", "Domain name",
                                      "Registrant", "Record created",
                                      "Domain servers"])
        self.assertNotIn("<td></td>", page)
        self.assertIn('<details id="reply"><summary>', page)

        with WhoisServer(NO_MATCH_REPLY) as missing, \
                Console(os.path.join(self.scratch, "var"),
                        whois=missing.address) as console:
            status, page = console.post("/whois", {"query": "nope.zz"})
        self.assertEqual(status, 200)
        self.assertIn('id="not-found">The server has no record of '
                      '<strong>nope.zz</strong>', page)
        self.assertNotIn("<table", page)
        self.assertIn("No match for", page)


if __name__ == "__main__":
    unittest.main()
