# SPDX-License-Identifier: Apache-2.0
"""CgiHost behind a real web server: curl posts a body to a CGI program that
reports what the host received."""

import os
import subprocess
import unittest

from support.programs import program
from support.webserver import LighttpdServer


def curl(*args, body=None):
    """curl's output for a request; `body` is posted from standard input."""
    command = ["curl", "-sS", "--max-time", "60", *args]
    if body is not None:
        command[1:1] = ["--data-binary", "@-"]
    return subprocess.run(command, input=body, check=True,
                          capture_output=True).stdout


class CgiHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = LighttpdServer({"echo.cgi": [program("cgi_echo")]})
        cls.server.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def test_post_reaches_the_program_and_its_answer_reaches_curl(self):
        body = b"alpha=1&beta=\x00\xff binary \r\n tail"
        answer = curl("-H", "Content-Type: text/x-demo",
                      self.server.url("echo.cgi", "a=1&b=two"), body=body)
        expected = (b"total=%d\nread=%d\ntype=text/x-demo\nquery=a=1&b=two\n"
                    b"body=" % (len(body), len(body))) + body
        self.assertEqual(answer, expected)

    def test_header_is_written_once_before_the_text(self):
        head = curl("-i", self.server.url("echo.cgi"))
        header, _, text = head.partition(b"\r\n\r\n")
        self.assertIn(b"Content-Type: text/plain", header)
        self.assertEqual(text.count(b"Content-Type"), 0)
        self.assertTrue(text.startswith(b"total=0\nread=0\n"))

    def test_large_binary_body_arrives_whole(self):
        body = os.urandom(3 * 1024 * 1024)
        answer = curl("-H", "Content-Type: application/octet-stream",
                      self.server.url("echo.cgi"), body=body)
        self.assertTrue(answer.endswith(b"body=" + body))
        self.assertIn(b"read=%d\n" % len(body), answer)


if __name__ == "__main__":
    unittest.main()
