# SPDX-License-Identifier: Apache-2.0
"""Wharfpost run as a web server runs it: a real process with a CGI
environment and the body on standard input; every redirect is compared
whole."""

import os
import subprocess
import threading
import unittest

from support.wharfpost import BOUNDARY, Installation, multipart

PAGE = "http://127.0.0.1/forms/Wharfposted.asp"
READ = 32768


def pattern(count, seed=0):
    return bytes((i * 31 + seed + i // 253) & 0xFF for i in range(count))


class GatewayTest(unittest.TestCase):
    ini = ""

    def setUp(self):
        self.site = Installation(self.ini)
        self.addCleanup(self.site.remove)

    def cookies(self, directory="up", extra=""):
        return f"WharfpostToWhere={directory}" + (f"; {extra}" if extra else "")


class AnswerTest(GatewayTest):
    def test_two_files_and_a_field(self):
        body = multipart([("f1", "C:\\docs\\a b.txt", b"one"),
                          ("f2", "c.bin", pattern(2000)),
                          ("note", "x\r\ny")])
        self.assertEqual(
            self.site.location(body, self.cookies()),
            PAGE + "?ErrorCode=1&filenum=2&fn1=a%20b%2Etxt&fl1=3"
            "&fn2=c%2Ebin&fl2=2000&note=x%0D%0Ay")
        self.assertEqual(self.site.read("up/c.bin"), pattern(2000))
        self.assertEqual(self.site.names("up"), ["a b.txt", "c.bin"])

    def test_quota_cookie_reports_what_is_left(self):
        body = multipart([("f", "a.txt", b"12345")])
        self.assertEqual(
            self.site.location(body, self.cookies(extra="UserDiskQuota=1000000")),
            PAGE + "?ErrorCode=1&filenum=1&Du=999995&fn1=a%2Etxt&fl1=5")

    def test_boundary_split_across_two_reads(self):
        head = multipart([("f", "a.bin", b"")], closing=False)
        head = head[:-2]  # the file's content starts here
        # The closing boundary starts 4 bytes before the end of the first read.
        content = pattern(READ - len(head) - 2 - 4)
        body = head + content + b"\r\n--" + BOUNDARY.encode() + b"--\r\n"
        self.assertEqual(self.site.location(body, self.cookies()),
                         PAGE + f"?ErrorCode=1&filenum=1&fn1=a%2Ebin&fl1={len(content)}")
        self.assertEqual(self.site.read("up/a.bin"), content)

    def test_file_over_four_reads(self):
        content = pattern(100000, 7)
        body = multipart([("f", "big.dat", content)])
        self.assertEqual(self.site.location(body, self.cookies()),
                         PAGE + "?ErrorCode=1&filenum=1&fn1=big%2Edat&fl1=100000")
        self.assertEqual(self.site.read("up/big.dat"), content)

    def test_empty_file_input_counts_for_server_name(self):
        body = multipart([("f1", "a.txt", b"A"), ("f2", "", b""),
                          ("f3", "c.txt", b"C")])
        self.assertEqual(
            self.site.location(body, self.cookies(),
                               query="ServerName1=first.txt&ServerName3=third.txt"),
            PAGE + "?ErrorCode=1&filenum=2&fn1=first%2Etxt&fl1=1"
            "&fn2=third%2Etxt&fl2=1&f2=")

    def test_missing_directory_cookie_reads_nothing(self):
        self.assertEqual(self.site.location(multipart([("a", "1")]), "other=1"),
                         PAGE + "?ErrorCode=-3&filenum=0")

    def test_no_body_no_answer(self):
        out = self.site.run(b"", self.cookies())
        self.assertEqual(out.stdout, b"")

    def test_configuration_failure_page(self):
        # The page is the one line; what the file must hold goes to the
        # server's error log.
        os.remove(os.path.join(self.site.cgi, "wharfpost.ini"))
        out = self.site.run(multipart([("a", "1")]), self.cookies())
        self.assertEqual(out.stdout.split(b"\r\n"), [
            b"Content-type: text/html", b"",
            b"Read " + os.path.join(self.site.cgi, "wharfpost.ini").lower().encode()
            + b" failed.", b""])
        self.assertIn(b"UploadRoot", out.stderr)


class StoredFileTest(GatewayTest):
    def test_read_only_earlier_file_stays_with_minus_eight(self):
        os.makedirs(os.path.join(self.site.root, "up"))
        earlier = os.path.join(self.site.root, "up", "a.txt")
        with open(earlier, "wb") as f:
            f.write(b"old")
        os.chmod(earlier, 0o444)
        body = multipart([("f", "a.txt", b"new")])
        self.assertEqual(self.site.location(body, self.cookies()),
                         PAGE + "?ErrorCode=-8&filenum=0")
        self.assertEqual(self.site.read("up/a.txt"), b"old")
        self.assertEqual(self.site.names("up"), ["a.txt"])

    def test_directory_too_long_for_a_file_is_answered(self):
        # Every level can be made, but no file name fits below the last.
        length = 4090 - len(self.site.root) - 1
        levels = ["d" * 200] * (length // 201)
        levels.append("e" * (length - 201 * len(levels)))
        directory = "/".join(levels)
        out = self.site.run(multipart([("f", "a.txt", b"x")]),
                            self.cookies(directory), timeout=20)
        self.assertTrue(out.stdout.startswith(
            b"Location: " + PAGE.encode() + b"?ErrorCode=-"), out.stdout)


class ExtensionTest(GatewayTest):
    ini = "FileTypesAllowed=*.gif\n"

    def test_extension_of_the_client_name(self):
        # The override's own extension must pass the list too: x.txt is
        # ignored and the browser's name is kept.
        body = multipart([("f1", "photo.GIF", b"g"), ("f2", "notes.txt", b"t"),
                          ("f3", "a.gif", b"a"), ("after", "read")])
        self.assertEqual(
            self.site.location(body, self.cookies(), query="ServerName3=x.txt"),
            PAGE + "?ErrorCode=-6&filenum=2&fn1=photo%2EGIF&fl1=1"
            "&fn2=a%2Egif&fl2=1&after=read")
        self.assertEqual(sorted(self.site.names("up")), ["a.gif", "photo.GIF"])


class CookieTest(GatewayTest):
    ini = "CookieName=ticket\nCookieValue=s3cret\nCookieRequired= Yes \n"

    def test_required_cookie(self):
        body = multipart([("f", "a.txt", b"x")])
        self.assertEqual(self.site.location(body, self.cookies(extra="ticket=no")),
                         PAGE + "?ErrorCode=-2&filenum=0")
        self.assertEqual(self.site.location(body, self.cookies(extra="ticket=s3cret")),
                         PAGE + "?ErrorCode=1&filenum=1&fn1=a%2Etxt&fl1=1")


class QuotaTest(GatewayTest):
    ini = "DiskQuota=1000\n"

    def test_refused_after_writing_earlier_files_stay(self):
        os.makedirs(os.path.join(self.site.root, "up"))
        with open(os.path.join(self.site.root, "up", "held"), "wb") as f:
            f.write(b"h" * 300)
        body = multipart([("f1", "a.txt", b"a" * 300), ("f2", "b.txt", b"b" * 500)])
        self.assertEqual(self.site.location(body, self.cookies()),
                         PAGE + "?ErrorCode=-4&filenum=1&Du=400&fn1=a%2Etxt&fl1=300")
        self.assertEqual(self.site.names("up"), ["a.txt", "held"])

    def test_cookie_lowers_but_never_raises_the_quota(self):
        body = multipart([("f", "a.txt", b"x" * 10)])
        self.assertEqual(
            self.site.location(body, self.cookies("a", "UserDiskQuota=5000000")),
            PAGE + "?ErrorCode=1&filenum=1&Du=990&fn1=a%2Etxt&fl1=10")
        self.assertEqual(
            self.site.location(body, self.cookies("b", "UserDiskQuota=100")),
            PAGE + "?ErrorCode=1&filenum=1&Du=90&fn1=a%2Etxt&fl1=10")

    def test_used_up_before_reading(self):
        self.site.location(multipart([("f", "a.txt", b"x" * 1000)]), self.cookies())
        self.assertEqual(
            self.site.location(multipart([("f", "b.txt", b"x")]), self.cookies()),
            PAGE + "?ErrorCode=-4&filenum=0&Du=0")


class ConfinementTest(GatewayTest):
    def assert_refused(self, directory):
        before = list(os.walk(self.site.top))
        body = multipart([("f", "a.txt", b"x")])
        self.assertEqual(self.site.location(body, f"WharfpostToWhere={directory}"),
                         PAGE + "?ErrorCode=-5&filenum=0")
        self.assertEqual(list(os.walk(self.site.top)), before)

    def test_directories_outside_the_root(self):
        outside = os.path.join(self.site.top, "outside")
        os.mkdir(outside)
        os.symlink(outside, os.path.join(self.site.root, "link"))
        for directory in (outside, "..%2Foutside", "a/../../outside",
                          "..\\outside", "link", "link/deeper"):
            with self.subTest(directory=directory):
                self.assert_refused(directory)
        self.assertEqual(os.listdir(outside), [])

    def test_absolute_directory_inside_the_root(self):
        body = multipart([("f", "a.txt", b"x")])
        self.assertEqual(
            self.site.location(body, "WharfpostToWhere=" + self.site.root + "/in/.."),
            PAGE + "?ErrorCode=1&filenum=1&fn1=a%2Etxt&fl1=1")
        self.assertEqual(self.site.names(), ["a.txt"])

    def test_without_upload_root_every_upload_is_refused(self):
        self.site.write_ini("[Wharfpost]\n")
        out = self.site.run(multipart([("f", "a.txt", b"x")]), self.cookies())
        self.assertEqual(out.stdout,
                         b"Location: " + PAGE.encode() + b"?ErrorCode=-5&filenum=0\r\n\r\n")
        self.assertIn(b"UploadRoot", out.stderr)


class DamagedInputTest(GatewayTest):
    def test_cut_off_body_keeps_the_file_of_the_same_name(self):
        os.makedirs(os.path.join(self.site.root, "up"))
        with open(os.path.join(self.site.root, "up", "a.bin"), "wb") as f:
            f.write(b"old")
        body = multipart([("t", "v"), ("f", "a.bin", pattern(90000))])
        self.assertEqual(
            self.site.location(body[:70000], self.cookies(), content_length=70000),
            PAGE + "?ErrorCode=-7&filenum=0&t=v")
        self.assertEqual(self.site.names("up"), ["a.bin"])
        self.assertEqual(self.site.read("up/a.bin"), b"old")

    def test_standard_input_closed_early(self):
        body = multipart([("f", "a.bin", pattern(50000))], closing=False)
        read_end, write_end = os.pipe()
        os.write(write_end, body[:40000])
        os.close(write_end)
        with os.fdopen(read_end, "rb") as stdin:
            out = self.site.run(cookies=self.cookies(), content_length=10**9,
                                stdin=stdin, timeout=10)
        self.assertEqual(out.stdout,
                         b"Location: " + PAGE.encode() + b"?ErrorCode=-7&filenum=0\r\n\r\n")
        self.assertEqual(self.site.names("up"), [])

    def test_referrer_cannot_add_header_lines(self):
        out = self.site.run(multipart([("a", "1")]), self.cookies(),
                            referrer="http://h/x\r\nSet-Cookie: a=b\r\n/p.htm")
        self.assertEqual(out.stdout,
                         b"Location: /Wharfposted.asp?ErrorCode=1&filenum=0&a=1\r\n\r\n")



class ProbeFaultTest(GatewayTest):
    """Faults that a hostile probe found; each case failed before its mend."""

    def test_answer_nobody_reads_removes_the_stored_files(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            out = self.site.run(multipart([("f", "a.txt", b"x")]),
                                self.cookies(), stdout=write_end)
        finally:
            os.close(write_end)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(self.site.names("up"), [])
        self.assertIn(b"removed", out.stderr)

    def test_malformed_content_length_is_a_malformed_body(self):
        for length in ("abc", "-5", "12x"):
            with self.subTest(length=length):
                self.assertEqual(
                    self.site.location(multipart([("f", "a.txt", b"x")]),
                                       self.cookies(), content_length=length),
                    PAGE + "?ErrorCode=-7&filenum=0")
                self.assertEqual(self.site.names(), [])

    def test_deep_directory_is_refused_and_nothing_is_created(self):
        self.assertEqual(
            self.site.location(multipart([("f", "a.txt", b"x")]),
                               self.cookies("d/" * 40)),
            PAGE + "?ErrorCode=-5&filenum=0")
        self.assertEqual(self.site.names(), [])

    def test_result_page_of_a_referrer_without_a_path(self):
        out = self.site.run(multipart([("a", "1")]), self.cookies(),
                            referrer="http://127.0.0.1:8080")
        self.assertEqual(out.stdout, b"Location: http://127.0.0.1:8080/"
                         b"Wharfposted.asp?ErrorCode=1&filenum=0&a=1\r\n\r\n")


class RootQuotaTest(GatewayTest):
    ini = "DiskQuota=1000\n"

    def test_quota_counts_every_directory_under_the_root(self):
        body = multipart([("f", "a.bin", b"x" * 900)])
        codes = [self.site.location(body, self.cookies(directory))
                 for directory in ("a", "b/c", "d")]
        self.assertEqual(codes, [
            PAGE + "?ErrorCode=1&filenum=1&Du=100&fn1=a%2Ebin&fl1=900",
            PAGE + "?ErrorCode=-4&filenum=0&Du=100",
            PAGE + "?ErrorCode=-4&filenum=0&Du=100"])
        stored = [name for _, _, names in os.walk(self.site.root) for name in names]
        self.assertEqual(stored, ["a.bin"])

    def test_refused_upload_creates_no_directory(self):
        with open(os.path.join(self.site.root, "held"), "wb") as f:
            f.write(b"h" * 1000)
        self.assertEqual(
            self.site.location(multipart([("f", "a.txt", b"x")]),
                               self.cookies("new/dir")),
            PAGE + "?ErrorCode=-4&filenum=0&Du=0")
        self.assertEqual(self.site.names(), ["held"])


class ConcurrentQuotaTest(GatewayTest):
    ini = "DiskQuota=1000000\n"

    def test_concurrent_uploads_stay_under_the_quota(self):
        body = multipart([("f", "a.bin", pattern(600000))])
        answers = [None] * 3

        def upload(n):
            answers[n] = self.site.location(body, self.cookies(f"u{n}"),
                                            timeout=60)

        threads = [threading.Thread(target=upload, args=(n,)) for n in range(3)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        codes = sorted(answer.split("&")[0].split("=")[1] for answer in answers)
        self.assertEqual(codes, ["-4", "-4", "1"], answers)
        stored = sum(os.path.getsize(os.path.join(top, name))
                     for top, _, names in os.walk(self.site.root)
                     for name in names)
        self.assertEqual(stored, 600000)

if __name__ == "__main__":
    unittest.main()
