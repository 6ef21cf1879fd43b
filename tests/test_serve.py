# SPDX-License-Identifier: Apache-2.0
"""The browser console end to end: `corvane serve` on loopback with a real
mail server (aiosmtpd) and the loopback whois server; its pages store,
mail and look up through the components, and it refuses what it must."""

import email
import email.policy
import html
import http.client
import os
import re
import shutil
import socket
import tempfile
import unittest

from support.console import Console, multipart
from support.rdap_server import RdapServer, Route
from support.smtp_servers import RealSmtpServer
from support.whois_fixtures import DOMAIN_REPLY
from support.whois_server import WhoisServer

HOSTILE = "<img src=x onerror=alert('1')>"


class ConsolePages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="corvane-serve-")
        cls.data = os.path.join(cls.scratch, "var")
        cls.smtp = RealSmtpServer().__enter__()
        cls.whois = WhoisServer(DOMAIN_REPLY)
        cls.console = Console(cls.data, "--max-body", str(1024 * 1024),
                              smtp=cls.smtp.address,
                              whois=cls.whois.address).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.console.__exit__(None, None, None)
        cls.whois.stop()
        cls.smtp.__exit__(None, None, None)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def stored(self, name):
        with open(os.path.join(self.data, "uploads", name), "rb") as data:
            return data.read()

    def test_every_page_answers_a_get(self):
        for path, marker in (("/", "Components"), ("/upload", 'name="file" id="files" multiple'),
                             ("/mail", 'name="attach"'),
                             ("/whois", 'name="query"')):
            with self.subTest(path=path):
                status, page = self.console.get(path)
                self.assertEqual(status, 200)
                self.assertIn(marker, page)
                self.assertIn('href="/style.css"', page)
        status, sheet = self.console.get("/style.css")
        self.assertEqual(status, 200)
        self.assertIn("body{", sheet)
        # An address is matched whole, letter for letter.
        for path in ("/nothing-here", "/style_css", "/style.css/"):
            self.assertEqual(self.console.get(path)[0], 404, path)

    def test_each_address_of_a_page_answers_get_and_head(self):
        for path, status, location in (
                ("/gateway", 200, None), ("/gateway/", 200, None),
                ("/Wharfposted.asp?ErrorCode=1", 301,
                 "/gateway/result?ErrorCode=1"),
                ("/gateway/Wharfposted.asp?ErrorCode=1", 301,
                 "/gateway/result?ErrorCode=1"),
                ("/files/download?path=none.txt", 404, None)):
            for method in ("GET", "HEAD"):
                with self.subTest(path=path, method=method):
                    got, body, headers = self.console.fetch(method, path)
                    self.assertEqual(got, status)
                    self.assertEqual(headers.get("Location"), location)
                    self.assertEqual(body == b"", method == "HEAD")

    def test_ranges_and_compression_match_what_the_fields_say(self):
        # Pages, refusals and errors are made for each request: a range of
        # one is answered whole, under its own status; fixed files are cut.
        for path, status in (("/", 200), ("/nothing", 404),
                             ("/files/download?path=none.txt", 404),
                             ("/style.css", 206)):
            for asked in ("bytes=0-10", "bytes=99999-"):
                with self.subTest(path=path, asked=asked):
                    got, body, headers = self.console.fetch(
                        "GET", path, headers={"Range": asked})
                    if status == 206:
                        self.assertIn(got, (206, 416))
                        continue
                    self.assertEqual(got, status)
                    self.assertNotIn("Content-Range", headers)
                    self.assertIn(b"</html>", body)
        # A fixed file's range is cut from it as it is, not compressed; a
        # compressed answer says it varies with what the client accepts.
        _, sheet, _ = self.console.fetch("GET", "/style.css")
        gzip = {"Accept-Encoding": "gzip"}
        got, part, headers = self.console.fetch(
            "GET", "/style.css", headers={"Range": "bytes=5-15", **gzip})
        self.assertEqual((got, part), (206, sheet[5:16]))
        self.assertNotIn("Content-Encoding", headers)
        _, _, headers = self.console.fetch("GET", "/console.js?v=1",
                                           headers=gzip)
        self.assertEqual(headers["Content-Encoding"], "gzip")
        self.assertEqual(headers["Vary"], "Accept-Encoding")

    def test_a_kept_alive_connection_carries_what_its_header_states(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.console.port,
                                                timeout=60)
        try:
            answers = []
            while len(answers) < 200:
                connection.request("GET", "/style.css")
                answer = connection.getresponse()
                answer.read()
                answers.append((answer.status, answer.getheader("Keep-Alive"),
                                answer.getheader("Connection")))
                if answer.will_close:
                    break
        finally:
            connection.close()
        stated = int(re.search(r"max=(\d+)", answers[0][1]).group(1))
        self.assertEqual(len(answers), stated)
        self.assertEqual({status for status, _, _ in answers}, {200})
        self.assertEqual(answers[-1][2], "close")

    def test_each_answer_states_each_field_once(self):
        def fields(method, path, body=None):
            connection = http.client.HTTPConnection(
                "127.0.0.1", self.console.port, timeout=60)
            try:
                body, headers = self.console.with_session(method, body, {})
                connection.request(method, path, body=body, headers=headers)
                answer = connection.getresponse()
                answer.read()
                return answer.getheaders()
            finally:
                connection.close()

        for method, path, cache in (
                ("GET", "/", "no-store"), ("GET", "/nothing", "no-store"),
                ("GET", "/favicon.svg", "max-age=86400"),
                ("GET", "/console.js", "no-cache"),
                ("GET", "/console.js?v=1",
                 "public, max-age=31536000, immutable"),
                # Refused (no Origin): the answer closes its connection.
                ("POST", "/upload", "no-store")):
            with self.subTest(method=method, path=path):
                got = fields(method, path, b"x" if method == "POST" else None)
                names = [name.lower() for name, _ in got]
                self.assertEqual(len(names), len(set(names)), got)
                got = dict(got)
                self.assertEqual(got["Cache-Control"], cache)
                self.assertEqual(got["X-Frame-Options"], "DENY")
                closes = got.get("Connection") == "close"
                self.assertEqual(closes, method == "POST")
                self.assertEqual("Keep-Alive" in got, not closes)

    def test_upload_stores_two_files_byte_identical_and_shows_the_field(self):
        first, second = os.urandom(70000), bytes(range(256)) * 9 + b"\r\n--"
        status, page = self.console.post(
            "/upload", {"title": "two files"},
            [("file1", "first.bin", first), ("file2", "second.dat", second)])
        self.assertEqual(status, 200)
        self.assertIn('<strong id="code">1</strong>', page)
        self.assertIn("<td>first.bin</td><td>file1</td><td>70000</td>", page)
        self.assertIn("<td>title</td><td>two files</td>", page)
        self.assertEqual(self.stored("first.bin"), first)
        self.assertEqual(self.stored("second.dat"), second)

    def test_html_in_a_file_name_and_a_field_is_escaped(self):
        status, page = self.console.post(
            "/upload", {"note": HOSTILE},
            [("file1", HOSTILE + ".txt", b"x")])
        self.assertEqual(status, 200)
        self.assertNotIn(HOSTILE, page)
        escaped = html.escape(HOSTILE).replace("&#x27;", "&#39;")
        # The name in the result's sentence and table, the note in the
        # table and in the form shown again.
        self.assertEqual(page.count(escaped), 4)

    def test_a_path_in_an_uploaded_name_stays_in_the_upload_folder(self):
        status, page = self.console.post(
            "/upload", files=[("file1", "../../escaped.txt", b"inside")])
        self.assertEqual(status, 200)
        self.assertFalse(os.path.exists(os.path.join(self.scratch,
                                                     "escaped.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.data,
                                                     "escaped.txt")))
        self.assertEqual(self.stored("escaped.txt"), b"inside")

    def test_whois_shows_the_fields_and_the_reply(self):
        status, page = self.console.post("/whois", {"query": "widget.zz"})
        self.assertEqual(status, 200)
        self.assertIn("<th>Domain name</th><td>WIDGET.ZZ</td>", page)
        self.assertIn("<th>Billing e-mail</th><td>kim@widget.zz</td>", page)
        self.assertIn("<th>Record found</th><td>yes</td>", page)
        self.assertIn("Springfield, XX 00000", page)

    def test_whois_failure_shows_the_error_triple(self):
        # Bound but not listening: connections are refused, and no other
        # server can take the port meanwhile.
        with socket.socket() as closed:
            closed.bind(("127.0.0.1", 0))
            port = closed.getsockname()[1]
            with Console(os.path.join(self.scratch, "refused"),
                         whois=f"127.0.0.1:{port}") as console:
                status, page = console.post("/whois", {"query": "widget.zz"})
        self.assertEqual(status, 200)
        self.assertIn('id="error"', page)
        self.assertIn("from Namewell", page)

    def test_whois_over_rdap_and_a_protocol_the_component_refuses(self):
        answer = {"objectClassName": "domain", "ldhName": "WIDGET.ZZ",
                  "status": ["active", "client transfer prohibited"],
                  "nameservers": [{"ldhName": "NS1.WIDGET.ZZ"},
                                  {"ldhName": "NS2.WIDGET.ZZ"}]}
        with RdapServer({"/domain/widget.zz": Route(200, answer)}) as rdap, \
                Console(os.path.join(self.scratch, "rdap"),
                        "--rdap-server", rdap.base,
                        whois=self.whois.address) as console:
            status, page = console.post(
                "/whois", {"query": "widget.zz", "protocol": "rdap"})
            self.assertEqual(status, 200)
            self.assertIn("<th>Domain name</th><td>WIDGET.ZZ</td>", page)
            self.assertIn("NS1.WIDGET.ZZ\nNS2.WIDGET.ZZ", page)
            self.assertIn("<option selected>rdap</option>", page)
            self.assertEqual([path for path, _ in rdap.requests],
                             ["/domain/widget.zz"])
            status, page = console.post(
                "/whois", {"query": "widget.zz", "protocol": HOSTILE})
            self.assertEqual(status, 200)
            self.assertIn('id="error"', page)
            self.assertNotIn(HOSTILE, page)

    def test_mail_sends_a_stored_file_as_an_attachment(self):
        content = os.urandom(5000)
        self.console.post("/upload", files=[("file1", "report.pdf", content)])
        before = len(self.smtp.envelopes)
        status, page = self.console.post("/mail", {
            "from": "console@example.test", "to": "a@example.test, b@example.test",
            "bcc": "hidden@example.test", "subject": "Report <1>",
            "body": "line one\r\n.line two", "attach": ["report.pdf"]})
        self.assertEqual(status, 200)
        self.assertIn('id="result">Sent to a@example.test, b@example.test '
                      'and hidden@example.test.<', page)
        self.assertEqual(len(self.smtp.envelopes), before + 1)
        envelope = self.smtp.envelopes[-1]
        self.assertEqual(sorted(envelope.rcpt_tos),
                         ["a@example.test", "b@example.test",
                          "hidden@example.test"])
        message = email.message_from_bytes(envelope.content,
                                           policy=email.policy.default)
        self.assertEqual(message["Subject"], "Report <1>")
        self.assertNotIn("Bcc", message)
        parts = list(message.iter_attachments())
        self.assertEqual([p.get_filename() for p in parts], ["report.pdf"])
        self.assertEqual(parts[0].get_content(), content)

    def test_mail_refuses_an_attachment_that_is_not_a_stored_file(self):
        before = len(self.smtp.envelopes)
        for name in ("../var.log", "/etc/passwd", "missing.txt"):
            with self.subTest(name=name):
                status, page = self.console.post("/mail", {
                    "from": "c@example.test", "to": "a@example.test",
                    "subject": "s", "attach": [name]})
                self.assertEqual(status, 200)
                self.assertIn("Not sent: no stored file is named", page)
        self.assertEqual(len(self.smtp.envelopes), before)

    def test_mail_refuses_a_stored_name_that_links_out(self):
        secret = os.path.join(self.scratch, "secret.txt")
        with open(secret, "w") as text:
            text.write("not for mailing")
        link = os.path.join(self.data, "uploads", "leak.txt")
        os.symlink(secret, link)
        self.addCleanup(os.remove, link)
        before = len(self.smtp.envelopes)
        status, page = self.console.post("/mail", {
            "from": "c@example.test", "to": "a@example.test",
            "subject": "s", "attach": ["leak.txt"]})
        self.assertEqual(status, 200)
        self.assertIn("leads out of the data directory", page)
        self.assertEqual(len(self.smtp.envelopes), before)

    def test_mail_failure_shows_the_triple_and_the_page_text(self):
        status, page = self.console.post("/mail", {
            "from": "c@example.test", "subject": "no recipient"})
        self.assertEqual(status, 200)
        self.assertIn('id="result">Not sent: the To field names no '
                      'recipient.<', page)
        self.assertIn("from Penrill", page)
        self.assertIn("Written to the page", page)

    def test_gateway_runs_wharfpost_and_shows_the_outcome(self):
        status, page, headers = self.console.request("GET", "/gateway/")
        self.assertEqual(status, 200)
        self.assertIn("WharfpostToWhere=console;", headers["Set-Cookie"])
        content = os.urandom(30000)
        body, content_type = multipart(
            [("caption", "<b>bold</b>")],
            [("upload1", "picture.png", content)])
        own = self.console.origin
        status, _, headers = self.console.request(
            "POST", "/gateway/wharfpost", body,
            {"Content-Type": content_type, "Origin": own,
             "Referer": own + "/gateway/", "Cookie": "WharfpostToWhere=console"})
        self.assertEqual(status, 302)
        location = headers["Location"]
        self.assertTrue(location.startswith(
            own + "/gateway/result?ErrorCode=1&filenum=1&"), location)
        with open(os.path.join(self.data, "gateway", "console",
                               "picture.png"), "rb") as stored:
            self.assertEqual(stored.read(), content)
        status, page = self.console.get(location[len(own):])
        self.assertEqual(status, 200)
        self.assertIn("ErrorCode 1: every file stored", page)
        self.assertIn("<td>picture.png</td><td>30000</td>", page)
        self.assertIn("<td>caption</td><td>&lt;b&gt;bold&lt;/b&gt;</td>", page)

    def gateway_post(self, name, referer):
        body, content_type = multipart([], [("upload1", name, b"x")])
        own = self.console.origin
        return self.console.request(
            "POST", "/gateway/wharfpost", body,
            {"Content-Type": content_type, "Origin": own, "Referer": referer,
             "Cookie": "WharfpostToWhere=console"})

    def test_the_gateway_runs_only_the_settings_the_console_wrote(self):
        # Nothing of the gateway's own lies where the Files page writes;
        # settings planted there, as the Files page could, are not read.
        self.assertFalse(os.path.exists(os.path.join(self.data, "cgi-bin")))
        outside = os.path.join(self.scratch, "planted-root")
        os.makedirs(outside)
        os.makedirs(os.path.join(self.data, "cgi-bin"))
        self.addCleanup(shutil.rmtree, os.path.join(self.data, "cgi-bin"))
        with open(os.path.join(self.data, "cgi-bin", "wharfpost.ini"),
                  "w") as ini:
            ini.write(f"[Wharfpost]\nUploadRoot={outside}/\n")
        status, _, _ = self.gateway_post("planted.txt",
                                         self.console.origin + "/gateway/")
        self.assertEqual(status, 302)
        self.assertEqual(os.listdir(outside), [])
        self.assertTrue(os.path.exists(os.path.join(
            self.data, "gateway", "console", "planted.txt")))

    def test_the_gateway_redirects_only_to_the_console(self):
        own = self.console.origin
        for referer in ("http://evil.example/gateway/",
                        "http://evil.example", own + ".evil.example/x/"):
            with self.subTest(referer=referer):
                status, _, headers = self.gateway_post("r.txt", referer)
                self.assertEqual(status, 302)
                self.assertTrue(headers["Location"].startswith(
                    own + "/gateway/result?ErrorCode=1&"),
                    headers["Location"])

    def test_gateway_refuses_a_folder_outside_its_root(self):
        body, content_type = multipart([], [("upload1", "x.txt", b"x")])
        own = self.console.origin
        status, _, headers = self.console.request(
            "POST", "/gateway/wharfpost", body,
            {"Content-Type": content_type, "Origin": own,
             "Referer": own + "/gateway/",
             "Cookie": "WharfpostToWhere=../../outside"})
        self.assertEqual(status, 302)
        self.assertIn("ErrorCode=-5", headers["Location"])
        self.assertFalse(os.path.exists(os.path.join(self.scratch, "outside")))

    def test_refusals(self):
        body, content_type = multipart([("title", "x")])
        own = self.console.origin
        cases = [
            # (what, method, headers, expected status)
            ("cross-origin post", "POST", {"Origin": "http://evil.example"}, 403),
            ("no origin nor referer", "POST", {}, 403),
            ("null origin", "POST", {"Origin": "null"}, 403),
            ("foreign referer", "POST",
             {"Referer": "http://evil.example/upload"}, 403),
            ("own referer", "POST", {"Referer": own + "/upload"}, 200),
            ("foreign host name", "GET", {"Host": "rebound.example:80"}, 403),
            ("other method", "PUT", {"Origin": own}, 405),
            ("declared body over the limit", "POST",
             {"Origin": own, "Content-Length": str(64 * 1024 * 1024)}, 413),
            ("too many header fields", "GET",
             {f"X-Filler-{n}": "x" for n in range(120)}, 431),
        ]
        for what, method, headers, expected in cases:
            with self.subTest(what):
                sent = {"Content-Type": content_type, **headers}
                payload = body if "Content-Length" not in headers else None
                if payload is None:
                    status = self.raw_status(method, sent)
                else:
                    status, _, _ = self.console.request(method, "/upload",
                                                        payload, sent)
                self.assertEqual(status, expected)

    def raw_status(self, method, headers):
        """The status of a request whose body is never sent."""
        with socket.create_connection(("127.0.0.1", self.console.port)) as s:
            lines = [f"{method} /upload HTTP/1.1",
                     f"Host: 127.0.0.1:{self.console.port}"]
            lines += [f"{k}: {v}" for k, v in headers.items()]
            s.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
            with s.makefile("rb") as answer:
                return int(answer.readline().split()[1])

    def test_the_unread_body_of_a_refused_post_is_never_taken_for_a_request(
            self):
        smuggled = (f"GET /smuggled HTTP/1.1\r\nHost: 127.0.0.1:"
                    f"{self.console.port}\r\n\r\n").encode()
        with socket.create_connection(("127.0.0.1", self.console.port)) as s:
            s.sendall((f"POST /upload HTTP/1.1\r\nHost: 127.0.0.1:"
                       f"{self.console.port}\r\nOrigin: http://evil.example\r\n"
                       f"Content-Length: {len(smuggled)}\r\n\r\n").encode()
                      + smuggled)
            with s.makefile("rb") as answer:
                replies = answer.read()
        self.assertTrue(replies.startswith(b"HTTP/1.1 403 "))
        self.assertEqual(replies.count(b"HTTP/1.1 "), 1)
        self.assertNotIn("/smuggled", self.console.server_log())

    def test_a_body_framed_two_ways_is_never_taken_for_a_request(self):
        host = f"Host: 127.0.0.1:{self.console.port}\r\n"
        if self.console.cookie:
            host += f"Cookie: {self.console.cookie}\r\n"
        own = f"Origin: {self.console.origin}\r\n"
        cases = (
            # (what, head before the blank line, body, status)
            ("a get with a body", "GET / HTTP/1.1\r\n" + host, True, 200),
            ("a get with a chunked body",
             "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n" + host,
             "0\r\n\r\n", 200),
            ("a length and chunks", "POST /nothing HTTP/1.1\r\n" + host + own
             + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n",
             "0\r\n\r\n", 400),
            ("two lengths", "POST /nothing HTTP/1.1\r\n" + host + own
             + "Content-Length: 0\r\nContent-Length: 1\r\n", "", 400),
            ("a blank before the colon", "POST /nothing HTTP/1.1\r\n" + host
             + own + "Transfer-Encoding : chunked\r\n", "0\r\n\r\n", 400),
            ("an unreadable request line", "GET / HTTP/9.9\r\n", "", 400))
        for number, (what, head, body, status) in enumerate(cases):
            with self.subTest(what):
                smuggled = (f"GET /smuggled-{number} HTTP/1.1\r\n{host}\r\n")
                if body is True:
                    body = smuggled
                    head += f"Content-Length: {len(body)}\r\n"
                    smuggled = ""
                with socket.create_connection(
                        ("127.0.0.1", self.console.port)) as s:
                    s.sendall((head + "\r\n" + body + smuggled).encode())
                    with s.makefile("rb") as answer:
                        replies = answer.read()
                self.assertTrue(replies.startswith(f"HTTP/1.1 {status} "
                                                   .encode()), replies[:40])
                self.assertEqual(replies.count(b"HTTP/1.1 "), 1)
                self.assertNotIn(f"/smuggled-{number}",
                                 self.console.server_log())
        # The unreadable request's log line times it from its own start.
        times = re.findall(r"^GET  400 \d+ bytes ([\d.]+) ms$",
                           self.console.server_log(), re.M)
        self.assertTrue(times)
        self.assertLess(max(map(float, times)), 60000)

    def test_a_body_over_the_limit_is_refused_without_being_held(self):
        _, memory_before = self.console.status()
        for chunked in (False, True):
            with self.subTest(chunked=chunked), socket.create_connection(
                    ("127.0.0.1", self.console.port)) as s:
                head = (f"POST /upload HTTP/1.1\r\nHost: 127.0.0.1:"
                        f"{self.console.port}\r\nOrigin: {self.console.origin}"
                        f"\r\nCookie: {self.console.cookie}"
                        "\r\nContent-Type: application/octet-stream\r\n")
                head += ("Transfer-Encoding: chunked\r\n\r\n" if chunked else
                         f"Content-Length: {200 * 1024 * 1024}\r\n\r\n")
                s.sendall(head.encode())
                block = os.urandom(1024 * 1024)
                piece = (b"100000\r\n" + block + b"\r\n") if chunked else block
                try:
                    for _ in range(40):
                        s.sendall(piece)
                except OSError:
                    pass  # the server closed the connection: refused early
                with s.makefile("rb") as answer:
                    self.assertEqual(int(answer.readline().split()[1]), 413)
        _, memory_after = self.console.status()
        self.assertLess(memory_after - memory_before, 16 * 1024)

    def test_each_request_is_logged(self):
        self.console.get("/whois")
        pattern = r"GET /whois 200 \d+ bytes [\d.]+ ms"
        self.assertRegex(self.console.logged(pattern), pattern)
        # A long path is cut (not within an escape), so that the line
        # stays one whole write; the status and figures still follow.
        self.console.get("/" + "%FF" * 1000)
        pattern = r"\nGET /(\\xFF){511}\.\.\. \d{3} \d+ bytes [\d.]+ ms\n"
        self.assertRegex(self.console.logged(pattern), pattern)


if __name__ == "__main__":
    unittest.main()
