# SPDX-License-Identifier: Apache-2.0
"""corvane.WsgiPage: the request taken from a WSGI environ (a plain dict
here, a real server's below), the body read from wsgi.input only when the
component asks and in bounded pieces, what the components write kept for
the view; and the example Flask application behind Python's wsgiref server
on loopback storing a multi-file upload byte for byte under its quota and
extension list, sending a mail to aiosmtpd and looking up a domain on a
whois server, both on loopback."""

import http.client
import io
import os
import shutil
import sys
import tempfile
import unittest
import urllib.parse

import binding_support as binding

binding.use_test_registry()
import corvane  # noqa: E402  (the registry is chosen first)

from support.whois_fixtures import DOMAIN_REPLY  # noqa: E402

PIECE = 64 * 1024


class RecordingInput:
    """wsgi.input that records the size of every read asked of it."""

    def __init__(self, data):
        self.stream = io.BytesIO(data)
        self.reads = []

    def read(self, size=-1):
        self.reads.append(size)
        return self.stream.read(size)


def environ_for(body, content_type, **extra):
    environ = {"REQUEST_METHOD": "POST", "CONTENT_TYPE": content_type,
               "CONTENT_LENGTH": str(len(body)),
               "wsgi.input": RecordingInput(body)}
    environ.update(extra)
    return environ


class PageTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="corvane-wsgi-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def upload(self, environ, extensions=("txt", "bin"), **page_options):
        page = corvane.WsgiPage(environ, **page_options)
        with page:
            cargane = page.create("Corvane.upload")
            cargane.UpLoadPath = self.folder
            cargane.FileExtensionList(list(extensions))
            code = cargane.upload()
            self.error = cargane.GetLastErrDescription
            stored = {f.FileName: f.FileLen for f in cargane.UploadedFiles}
            fields = {i.Name: i.Value for i in cargane.FormItems}
        return page, code, stored, fields

    def stored(self, name):
        with open(os.path.join(self.folder, name), "rb") as stored:
            return stored.read()

    def test_the_body_is_read_on_demand_in_bounded_pieces(self):
        data = bytes(range(256)) * 1200  # 300 KiB, every byte value
        body, content_type = binding.multipart(
            [("note", "hello")], [("f", "data.bin", data)])
        environ = environ_for(body, content_type)
        page = corvane.WsgiPage(environ)
        cargane = page.create("Corvane.upload")
        cargane.UpLoadPath = self.folder
        cargane.FileExtensionList("bin")
        self.assertEqual(environ["wsgi.input"].reads, [])  # not yet asked
        self.assertEqual(cargane.upload(), 1)
        reads = environ["wsgi.input"].reads
        self.assertGreater(len(reads), 4)
        self.assertTrue(all(0 < size <= PIECE for size in reads), reads)
        self.assertEqual(sum(reads), len(body))  # never past the length
        self.assertEqual(page.bytes_read, len(body))
        self.assertEqual(self.stored("data.bin"), data)
        self.assertEqual(cargane.FormItems[0].Value, "hello")
        self.assertEqual(cargane.Form["NOTE"], "hello")  # keyed by name
        page.end()

    def test_the_extension_list_refuses_and_the_others_are_stored(self):
        body, content_type = binding.multipart(
            files=[("a", "keep.txt", b"kept\r\n--"),
                   ("b", "run.exe", b"MZ refused")])
        page, code, stored, _ = self.upload(environ_for(body, content_type))
        self.assertEqual(code, -6)
        self.assertEqual(stored, {"keep.txt": 8})
        self.assertEqual(os.listdir(self.folder), ["keep.txt"])
        self.assertEqual(page.status, "200 OK")

    def test_a_body_over_the_limit_is_not_read(self):
        body, content_type = binding.multipart(files=[("a", "a.txt", b"x")])
        environ = environ_for(body, content_type)
        page, code, stored, _ = self.upload(environ, max_body_bytes=10)
        self.assertEqual(code, -7)
        self.assertEqual((page.status, page.status_code),
                         ("413 Payload Too Large", 413))
        self.assertEqual(environ["wsgi.input"].reads, [])
        self.assertEqual(os.listdir(self.folder), [])
        self.assertIn(f"body of {len(body)} bytes is larger than the limit "
                      "of 10 bytes", self.error)

    def test_a_malformed_length_is_a_bad_request(self):
        environ = environ_for(b"", "multipart/form-data; boundary=x",
                              CONTENT_LENGTH="12x")
        page, code, _, _ = self.upload(environ)
        self.assertEqual((code, page.status_code), (-7, 400))
        self.assertIn('CONTENT_LENGTH "12x" is not a number', self.error)

    def test_a_client_that_sends_less_than_it_claims_leaves_nothing(self):
        body, content_type = binding.multipart(
            files=[("a", "cut.txt", b"y" * 200_000)])
        environ = environ_for(body[:150_000], content_type,
                              CONTENT_LENGTH=str(len(body)))
        page, code, stored, _ = self.upload(environ)
        self.assertNotEqual(code, 1)
        self.assertEqual(stored, {})
        self.assertEqual(os.listdir(self.folder), [])
        self.assertEqual(page.bytes_read, 150_000)

    def test_no_input_is_an_empty_body(self):
        page, code, stored, _ = self.upload({"REQUEST_METHOD": "GET"})
        self.assertEqual((code, stored), (1, {}))

    def test_request_variables_query_string_and_cookies(self):
        environ = {"QUERY_STRING": "a=1&b=%C3%A9", "HTTP_COOKIE":
                   "theme=dark; session=abc", "CONTENT_TYPE": "text/plain",
                   # WSGI gives headers as Latin-1 decoded bytes.
                   "HTTP_X_NAME": "caf\u00c3\u00a9", "SERVER_PORT": "80",
                   "wsgi.input": io.BytesIO(b""), "wsgi.errors": sys.stderr}
        page = corvane.WsgiPage(environ)
        request = page.Request
        self.assertEqual(request.ServerVariables("content_type"),
                         "text/plain")
        self.assertEqual(request.ServerVariables("HTTP_X_NAME"), "café")
        self.assertEqual(request.ServerVariables("NOT_SET"), "")
        self.assertEqual(request.QueryString, "a=1&b=%C3%A9")
        self.assertEqual(page.query_string, "a=1&b=%C3%A9")
        self.assertEqual(page.server_variable("server_port"), "80")
        self.assertEqual(page.cookies, {"theme": "dark", "session": "abc"})
        self.assertEqual(request.TotalBytes, 0)

    def test_what_components_write_is_the_pages_output(self):
        page = corvane.WsgiPage({})
        test = page.create("Corvane.Test")
        test.Say("a < b")
        page.Response.Write("<p>raw</p>")
        self.assertEqual(page.output, "a &lt; b<br><p>raw</p>")
        page.end()
        test.Say("after the end")  # the page is no longer bound
        self.assertEqual(page.output, "a &lt; b<br><p>raw</p>")

    def test_an_object_made_without_a_page_is_bound_on_request(self):
        page = corvane.WsgiPage({})
        test = corvane.create("Corvane.Test", page)
        test.Say("bound")
        self.assertEqual(page.output, "bound<br>")


class FlaskAppTest(unittest.TestCase):
    """The example application behind wsgiref on loopback."""

    QUOTA = 100_000

    @classmethod
    def setUpClass(cls):
        cls.app = binding.ExampleApp(cls.QUOTA, ["txt", "png"],
                                     DOMAIN_REPLY).__enter__()
        cls.folder = cls.app.folder
        cls.smtp = cls.app.smtp
        cls.whois = cls.app.whois

    @classmethod
    def tearDownClass(cls):
        cls.app.__exit__(None, None, None)

    def fetch(self, method, path, body=None, content_type=None):
        connection = http.client.HTTPConnection(
            "127.0.0.1", self.app.port, timeout=60)
        headers = {"Content-Type": content_type} if content_type else {}
        connection.request(method, path, body, headers)
        response = connection.getresponse()
        page = response.read().decode()
        connection.close()
        return response.status, page

    def post(self, body, content_type):
        return self.fetch("POST", "/upload", body, content_type)

    def test_mail_form_sends_to_the_mail_server(self):
        form = urllib.parse.urlencode({
            "to": "reader@example.test", "subject": "From Flask",
            "text": "first line\r\nsecond line"})
        status, page = self.fetch("POST", "/mail", form,
                                  "application/x-www-form-urlencoded")
        self.assertEqual(status, 200)
        self.assertIn("<p id=result>Sent.</p>", page)
        envelope = self.smtp.envelopes[-1]
        self.assertEqual(envelope.rcpt_tos, ["reader@example.test"])
        message = envelope.content.decode()
        self.assertIn("Subject: From Flask", message)
        self.assertIn("first line\r\nsecond line", message)

    def test_whois_lookup_shows_the_parsed_fields(self):
        status, page = self.fetch("GET", "/whois?q=widget.zz")
        self.assertEqual(status, 200)
        self.assertIn("<dt>DomainName</dt><dd>WIDGET.ZZ</dd>", page)
        self.assertIn("<dd>jan@widget.zz</dd>", page)
        self.assertEqual(self.whois.queries[-1], b"widget.zz\r\n")

    def test_upload_quota_and_extension_list(self):
        png = bytes(range(256)) * 100  # 25,600 bytes
        text = "naïve\r\nline two\r\n".encode() * 1000
        body, content_type = binding.multipart(
            [("note", "first")],
            [("files", "picture.png", png), ("files", "notes.txt", text),
             ("files", "tool.exe", b"refused")])
        status, page = self.post(body, content_type)
        self.assertEqual(status, 422, page)
        self.assertIn('data-code="-6"', page)
        self.assertIn("picture.png (25600 bytes)", page)
        self.assertIn("note: first", page)
        for name, data in (("picture.png", png), ("notes.txt", text)):
            with open(os.path.join(self.folder, name), "rb") as stored:
                self.assertEqual(stored.read(), data)
        self.assertFalse(os.path.exists(os.path.join(self.folder,
                                                     "tool.exe")))

        # The folder now holds 43,600 bytes: 60,000 more are over the quota.
        big, content_type = binding.multipart(
            files=[("files", "big.txt", b"z" * 60_000)])
        status, page = self.post(big, content_type)
        self.assertIn('data-code="-4"', page)
        self.assertFalse(os.path.exists(os.path.join(self.folder,
                                                     "big.txt")))


if __name__ == "__main__":
    unittest.main()
