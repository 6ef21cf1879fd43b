# SPDX-License-Identifier: Apache-2.0
"""Cargane end to end: lighttpd runs `corvane upload` as a CGI program and
curl (and Python's urllib) post multipart forms to it."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest
import urllib.request

from support.programs import program
from support.webserver import LighttpdServer


def curl_form(url, *fields):
    """The JSON answer to a form posted by curl; `fields` are --form values."""
    command = ["curl", "-sS", "--fail", "--max-time", "120", url]
    for field in fields:
        command += ["--form", field]
    answer = subprocess.run(command, check=True, capture_output=True).stdout
    return json.loads(answer)


class UploadBehindWebServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="cargane-e2e-")
        cls.files = os.path.join(cls.scratch, "files")
        os.mkdir(cls.files)
        cls.big = cls._put("big.bin", os.urandom(5 * 1024 * 1024))
        cls.small = cls._put("small.dat", bytes(range(256)) * 40 + b"\r\n--")
        cls.exe = cls._put("tool.exe", b"MZ" + os.urandom(1000))
        blocker = cls._put("blocker", b"a file where a directory should be")
        corvane = program("corvane")

        def upload(directory, *options):
            return [corvane, "upload", "--dir", directory, *options]

        cls.dirs = {name: os.path.join(cls.scratch, name)
                    for name in ("store", "gif", "quota", "urllib")}
        cls.server = LighttpdServer({
            "store.cgi": upload(cls.dirs["store"], "--ext", "bin,dat"),
            "gif.cgi": upload(cls.dirs["gif"], "--ext", "gif,dat"),
            "quota.cgi": upload(cls.dirs["quota"], "--ext", "*",
                                "--quota", "20000"),
            "nodir.cgi": upload(os.path.join(blocker, "up"), "--ext", "*"),
            "urllib.cgi": upload(cls.dirs["urllib"], "--ext", "*"),
        })
        cls.server.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    @classmethod
    def _put(cls, name, data):
        path = os.path.join(cls.files, name)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def stored(self, directory, name):
        with open(os.path.join(self.dirs[directory], name), "rb") as data:
            return data.read()

    def original(self, path):
        with open(path, "rb") as data:
            return data.read()

    def test_two_binary_files_and_a_text_field_arrive_byte_identical(self):
        answer = curl_form(self.server.url("store.cgi"),
                           f"big=@{self.big}", f"small=@{self.small}",
                           "comment=five megabytes\r\nand a bit")
        self.assertEqual(answer["code"], 1)
        self.assertEqual(answer["files"], [
            {"name": "big.bin", "field": "big", "length": 5 * 1024 * 1024},
            {"name": "small.dat", "field": "small",
             "length": os.path.getsize(self.small)}])
        self.assertEqual(answer["form"],
                         [{"name": "comment",
                           "value": "five megabytes\r\nand a bit"}])
        self.assertNotIn("error", answer)
        self.assertEqual(self.stored("store", "big.bin"),
                         self.original(self.big))
        self.assertEqual(self.stored("store", "small.dat"),
                         self.original(self.small))
        self.assertEqual(sorted(os.listdir(self.dirs["store"])),
                         ["big.bin", "small.dat"])

    def test_refused_extension_answers_minus_six(self):
        answer = curl_form(self.server.url("gif.cgi"),
                           f"tool=@{self.exe}", f"small=@{self.small}")
        self.assertEqual(answer["code"], -6)
        self.assertEqual([f["name"] for f in answer["files"]], ["small.dat"])
        self.assertEqual(os.listdir(self.dirs["gif"]), ["small.dat"])

    def test_quota_refusal_answers_minus_four(self):
        answer = curl_form(self.server.url("quota.cgi"),
                           f"small=@{self.small}", f"big=@{self.big}")
        self.assertEqual(answer["code"], -4)
        self.assertEqual([f["name"] for f in answer["files"]], ["small.dat"])
        self.assertEqual(os.listdir(self.dirs["quota"]), ["small.dat"])
        # Replacing the stored file gives its bytes back to the allowance.
        again = curl_form(self.server.url("quota.cgi"), f"small=@{self.small}")
        self.assertEqual(again["code"], 1)

    def test_directory_that_cannot_be_created_answers_minus_five(self):
        answer = curl_form(self.server.url("nodir.cgi"), f"small=@{self.small}")
        self.assertEqual(answer["code"], -5)
        self.assertEqual(answer["files"], [])

    def test_override_with_a_refused_extension_keeps_the_browser_name(self):
        # ".." has no extension, which the list refuses like .php.
        for query in ("ServerName1=shell.php", "ServerName1=%2E%2E"):
            answer = curl_form(self.server.url("gif.cgi", query),
                               f"small=@{self.small}")
            self.assertEqual(answer["code"], 1, query)
            self.assertEqual([f["name"] for f in answer["files"]],
                             ["small.dat"])
        self.assertEqual(os.listdir(self.dirs["gif"]), ["small.dat"])
        self.assertNotIn("small.dat", os.listdir(self.scratch))

    def test_form_posted_by_urllib(self):
        boundary = "UrllibBoundary4kz"
        data = self.original(self.small)
        body = (f"--{boundary}\r\nContent-Disposition: form-data; "
                f'name="doc"; filename="report.dat"\r\n'
                f"Content-Type: application/octet-stream\r\n\r\n"
                ).encode() + data + (
                f"\r\n--{boundary}\r\nContent-Disposition: form-data; "
                f'name="title"\r\n\r\nQuarterly\r\n--{boundary}--\r\n'
                ).encode()
        request = urllib.request.Request(
            self.server.url("urllib.cgi", "ServerName1=renamed.dat"),
            data=body, method="POST",
            headers={"Content-Type":
                     f"multipart/form-data; boundary={boundary}"})
        with urllib.request.urlopen(request, timeout=60) as response:
            self.assertEqual(response.headers["Content-Type"],
                             "application/json")
            answer = json.loads(response.read())
        self.assertEqual(answer["code"], 1)
        self.assertEqual(answer["files"], [
            {"name": "renamed.dat", "field": "doc", "length": len(data)}])
        self.assertEqual(self.stored("urllib", "renamed.dat"), data)


class UploadCommandBodyLimit(unittest.TestCase):
    """`corvane upload` run as a web server runs it, with a body that claims
    more than it holds."""

    BODY = (b"--XyZ\r\nContent-Disposition: form-data; name=\"t\"\r\n\r\n"
            b"v\r\n--XyZ--\r\n")

    def run_upload(self, claimed, *options):
        with tempfile.TemporaryDirectory() as directory:
            env = dict(os.environ, CONTENT_LENGTH=str(claimed),
                       CONTENT_TYPE="multipart/form-data; boundary=XyZ")
            child = subprocess.Popen(
                [program("corvane"), "upload", "--dir", directory, *options],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
            answer, _ = child.communicate(self.BODY, timeout=60)
            return child.returncode, answer

    def peak_memory(self, claimed):
        with tempfile.TemporaryDirectory() as directory, \
                tempfile.TemporaryFile() as body:
            body.write(self.BODY)
            body.seek(0)
            env = dict(os.environ, CONTENT_LENGTH=str(claimed),
                       CONTENT_TYPE="multipart/form-data; boundary=XyZ")
            child = subprocess.Popen(
                [program("corvane"), "upload", "--dir", directory],
                stdin=body, stdout=subprocess.DEVNULL, env=env)
            _, status, usage = os.wait4(child.pid, 0)
            self.assertEqual(os.waitstatus_to_exitcode(status), 0)
            return usage.ru_maxrss * 1024

    def test_claim_above_the_limit_is_refused_unread(self):
        for claimed, options in ((2 ** 31, ()), (10 ** 12, ()),
                                 (len(self.BODY), ("--max-body", "20"))):
            code, answer = self.run_upload(claimed, *options)
            self.assertEqual(code, 0)
            header, _, text = answer.partition(b"\r\n\r\n")
            self.assertIn(b"Status: 413", header)
            result = json.loads(text)
            self.assertEqual(result["code"], -7)
            self.assertIn(f"request body of {claimed} bytes",
                          result["error"]["description"])
            self.assertEqual(result["form"], [])

    def test_claim_within_the_limit_costs_only_what_arrives(self):
        # 1 GiB claimed, 60 bytes sent: the buffer follows the bytes. The
        # peak is compared with an honest claim's, so that a sanitizer's own
        # memory does not count.
        honest = self.peak_memory(len(self.BODY))
        self.assertLess(self.peak_memory(2 ** 30) - honest, 32 * 1024 * 1024)


    def test_malformed_length_is_a_bad_request(self):
        for claimed in ("abc", "-5", "60x", "0x3c"):
            with self.subTest(claimed=claimed):
                code, answer = self.run_upload(claimed)
                self.assertEqual(code, 0)
                header, _, text = answer.partition(b"\r\n\r\n")
                self.assertIn(b"Status: 400", header)
                result = json.loads(text)
                self.assertEqual(result["code"], -7)
                self.assertIn(f'CONTENT_LENGTH "{claimed}"',
                              result["error"]["description"])
                self.assertEqual(result["form"], [])


class UploadCommandAnswer(unittest.TestCase):
    """The JSON text of `corvane upload`'s answer, byte for byte: texts are
    written as they are where JSON allows it, escaped where it must be, and
    a text that is not UTF-8 goes as Base64."""

    FIELDS = [(b"plain", b"v"), (b"quote", b'a"b\\c'),
              (b"control", b"\x01\t\r\n\x7f"),
              (b"accents", "\u00e9\u20ac".encode()), (b"broken", b"\xff\xfe")]

    def test_texts_are_escaped_only_where_json_needs_it(self):
        body = (b'--XyZ\r\nContent-Disposition: form-data; name="f"; '
                b'filename="a.txt"\r\n\r\nx\r\n')
        for name, value in self.FIELDS:
            body += (b'--XyZ\r\nContent-Disposition: form-data; name="'
                     + name + b'"\r\n\r\n' + value + b"\r\n")
        body += b"--XyZ--\r\n"
        with tempfile.TemporaryDirectory() as directory:
            env = dict(os.environ, CONTENT_LENGTH=str(len(body)),
                       CONTENT_TYPE="multipart/form-data; boundary=XyZ")
            answer = subprocess.run(
                [program("corvane"), "upload", "--dir", directory,
                 "--ext", "*"], input=body, env=env, check=True,
                capture_output=True, timeout=60).stdout
        _, _, text = answer.partition(b"\r\n\r\n")
        self.assertEqual(text, (
            b'{"code":1,"files":[{"name":"a.txt","field":"f","length":1}],'
            b'"form":[{"name":"plain","value":"v"},'
            b'{"name":"quote","value":"a\\"b\\\\c"},'
            b'{"name":"control","value":"\\u0001\\t\\r\\n\x7f"},'
            b'{"name":"accents","value":"' + "\u00e9\u20ac".encode() + b'"},'
            b'{"name":"broken","value":{"text_base64":"//4="}}]}\n'))


if __name__ == "__main__":
    unittest.main()
