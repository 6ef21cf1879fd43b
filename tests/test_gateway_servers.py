# SPDX-License-Identifier: Apache-2.0
"""Wharfpost behind real web servers on loopback: curl posts a form with two
files (one of 20 MiB) and a field, with the cookies; the stored files must be
byte-identical and the redirect exactly the one the program gives."""

import os
import subprocess
import unittest

from support.gateway_servers import Apache, Lighttpd
from support.wharfpost import Installation

MiB = 1024 * 1024


class ServerCase:
    server = None

    def setUp(self):
        self.site = Installation("FileTypesAllowed=*.bin,txt\n")
        self.addCleanup(self.site.remove)
        self.files = os.path.join(self.site.top, "client")
        os.mkdir(self.files)
        self.big = os.path.join(self.files, "big.bin")
        with open(self.big, "wb") as out:
            out.write(os.urandom(20 * MiB))
        self.small = os.path.join(self.files, "notes.txt")
        with open(self.small, "wb") as out:
            out.write(b"line one\r\nline two\n")

    def post(self, server, cookies):
        """Posts the form; returns the answer's header lines."""
        out = subprocess.run(
            ["curl", "-sS", "--noproxy", "*", "-H", "Expect:", "-o", "/dev/null", "-D", "-",
             "-e", server.url("/forms/page.html"), "-b", cookies,
             "-F", f"upload1=@{self.big}", "-F", f"upload2=@{self.small}",
             "-F", "caption=Two files & one field",
             server.url("/cgi-bin/wharfpost")],
            capture_output=True, check=True, timeout=120)
        return out.stdout.decode("latin-1").split("\r\n")

    def test_form_with_two_files_and_a_field(self):
        with self.server(self.site) as server:
            lines = self.post(server, "WharfpostToWhere=site/up; UserDiskQuota=50000000")
            logs = server.logs()
        self.assertIn(" 302", lines[0], logs)
        location = [line for line in lines if line.lower().startswith("location:")]
        self.assertEqual(location, [
            "Location: " + server.url("/forms/Wharfposted.asp")
            + "?ErrorCode=1&filenum=2&Du=" + str(50000000 - 20 * MiB - 19)
            + "&fn1=big%2Ebin&fl1=20971520&fn2=notes%2Etxt&fl2=19"
            "&caption=Two%20files%20%26%20one%20field"])
        for name, source in (("big.bin", self.big), ("notes.txt", self.small)):
            with open(source, "rb") as sent:
                self.assertEqual(self.site.read("site/up/" + name), sent.read())
        self.assertEqual(self.site.names("site/up"), ["big.bin", "notes.txt"])

    def test_directory_outside_the_root_is_refused(self):
        with self.server(self.site) as server:
            lines = self.post(server, "WharfpostToWhere=../www")
        self.assertIn("Location: " + server.url("/forms/Wharfposted.asp")
                      + "?ErrorCode=-5&filenum=0", lines)
        self.assertEqual(sorted(os.listdir(self.site.www)), ["cgi-bin"])


class LighttpdTest(ServerCase, unittest.TestCase):
    server = Lighttpd


class ApacheTest(ServerCase, unittest.TestCase):
    server = Apache


if __name__ == "__main__":
    unittest.main()
