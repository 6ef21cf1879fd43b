# SPDX-License-Identifier: Apache-2.0
"""Messages that Penrill's message builder composes, read back by Python's
standard-library MIME parser, and the `corvane base64` command."""

import base64
import datetime
import email
import email.policy
import email.utils
import os
import shutil
import subprocess
import tempfile
import unittest

from support.programs import program

COMPOSE = program("compose_message")
CORVANE = program("corvane")
RUNTIME = program("libcorvane-runtime.so")
TALLOWIN = program("libtallowin.so")
HIDE_LIBRARY = program("hide_library.so")


def soname(library):
    """The name a program that links `library` loads it by."""
    output = subprocess.run(["readelf", "-d", library], check=True,
                            capture_output=True, text=True).stdout
    for line in output.splitlines():
        if "(SONAME)" in line:
            return line.split("[", 1)[1].rstrip("]")
    return os.path.basename(library)


def compose(*args, env=None, program=COMPOSE):
    return subprocess.run([program, *args], capture_output=True, env=env,
                          timeout=120)


class ComposedMessages(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="compose-")
        self.addCleanup(shutil.rmtree, self.folder)

    def write(self, name, data):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as file:
            file.write(data)
        return path

    def parse(self, raw):
        return email.message_from_bytes(raw, policy=email.policy.default)

    def test_headers_body_and_every_attachment_read_back(self):
        body = "First line\r\nSecond line, caf\u00e9\r\n".encode("latin-1")
        content = self.write("body.txt", body)
        sizes = {"empty.bin": 0, "one.zip": 1, "line.pdf": 54,
                 "line_and_one.gif": 55, "large.exe": 3 * 1024 * 1024}
        files = {name: os.urandom(size) for name, size in sizes.items()}
        text = b"A text attachment\r\n.starts with a dot\r\nend\r\n"
        files["notes.txt"] = text
        paths = [self.write(name, data) for name, data in files.items()]

        result = compose(
            "--from", "Sender Name <sender@example.org>",
            "--to", "first@example.org", "--to", "Second <second@example.org>",
            "--cc", "copy@example.org", "--bcc", "hidden@example.org",
            "--subject", "Quarterly figures",
            "--errors-to", "bounces@example.org", "--precedence", "bulk",
            "--content-file", content, "--encode", "base64",
            "--charset", "iso-8859-1",
            *[arg for path in paths for arg in ("--attach", path)])
        self.assertEqual(result.returncode, 0, result.stderr)
        message = self.parse(result.stdout)

        self.assertEqual(message["From"], "Sender Name <sender@example.org>")
        self.assertEqual(message["Reply-To"],
                         "Sender Name <sender@example.org>")
        self.assertEqual(message["To"],
                         "first@example.org, Second <second@example.org>")
        self.assertEqual(message["Cc"], "copy@example.org")
        self.assertIsNone(message["Bcc"])
        self.assertNotIn(b"hidden@", result.stdout)
        self.assertEqual(message["Subject"], "Quarterly figures")
        self.assertEqual(message["Errors-To"], "bounces@example.org")
        self.assertEqual(message["Precedence"], "bulk")
        self.assertIn("Penrill", message["X-Mailer"])
        self.assertIn("Corvane", message["X-Mailer"])
        self.assertEqual(message["MIME-Version"], "1.0")
        self.assertTrue(message.is_multipart())
        self.assertEqual(message.defects, [])

        parts = list(message.iter_parts())
        self.assertEqual(len(parts), 1 + len(files))
        self.assertEqual(parts[0].get_content_type(), "text/plain")
        self.assertEqual(parts[0].get_param("charset"), "iso-8859-1")
        self.assertEqual(parts[0].get_payload(decode=True), body)
        for part, (name, data) in zip(parts[1:], files.items()):
            self.assertEqual(part.get_filename(), name)
            self.assertEqual(part.get_payload(decode=True), data, name)
            self.assertEqual(part.defects, [], name)
        self.assertEqual(parts[-1].get_content_type(), "text/plain")
        self.assertEqual(parts[-1]["Content-Transfer-Encoding"], "7bit")
        self.assertEqual(parts[-1].get_content_disposition(), "inline")

    def test_date_header_is_readable_and_current(self):
        for zone, offset in (("UTC0", 0), ("XST+3:30", -210),
                             ("EST-10", 600)):
            env = dict(os.environ, TZ=zone)
            result = compose("--from", "a@example.org", "--to",
                             "b@example.org", env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            date = self.parse(result.stdout)["Date"]
            when = email.utils.parsedate_to_datetime(str(date))
            self.assertEqual(when.utcoffset(),
                             datetime.timedelta(minutes=offset), date)
            now = datetime.datetime.now(datetime.timezone.utc)
            self.assertLess(abs((now - when).total_seconds()), 5, date)

    def test_plain_message_is_a_single_part(self):
        content = self.write("body.txt", b"Hello\r\nThere\r\n")
        result = compose("--from", "a@example.org", "--to", "b@example.org",
                         "--reply-to", "r@example.org",
                         "--content-file", content)
        message = self.parse(result.stdout)
        self.assertFalse(message.is_multipart())
        self.assertEqual(message["Reply-To"], "r@example.org")
        self.assertEqual(message.get_content_type(), "text/plain")
        self.assertEqual(message.get_payload(decode=True),
                         b"Hello\r\nThere\r\n\r\n")

    def test_without_tallowin_only_base64_needs_fail(self):
        # A copy of the program, with the shared runtime it loads, in a
        # folder without libtallowin.so. A copy of the library on the
        # loader's path stands for an installed package: the loader audit
        # module hides it, as it hides one in /usr/lib, so the outcome does
        # not depend on what the machine has installed.
        program = shutil.copy(COMPOSE, self.folder)
        shutil.copy(RUNTIME, os.path.join(self.folder, soname(RUNTIME)))
        installed = os.path.join(self.folder, "installed")
        os.mkdir(installed)
        for name in ("libtallowin.so", soname(TALLOWIN)):
            shutil.copy(TALLOWIN, os.path.join(installed, name))
        on_path = dict(os.environ, LD_LIBRARY_PATH=installed)
        hidden = dict(on_path, LD_AUDIT=HIDE_LIBRARY,
                      CORVANE_TEST_HIDE="libtallowin.so")
        photo = self.write("photo.jpg", b"\xff\xd8")
        found = compose("--from", "a@example.org", "--to", "b@example.org",
                        "--attach", photo, env=on_path, program=program)
        self.assertEqual(found.returncode, 0, found.stderr)

        plain = compose("--from", "a@example.org", "--to", "b@example.org",
                        "--attach", self.write("notes.txt", b"note"),
                        env=hidden, program=program)
        self.assertEqual(plain.returncode, 0, plain.stderr)
        self.assertIn(b"note", plain.stdout)
        encoded = compose("--from", "a@example.org", "--to", "b@example.org",
                          "--attach", photo, env=hidden, program=program)
        self.assertEqual(encoded.returncode, 2)
        self.assertEqual(encoded.stderr,
                         b"53 Penrill: File not found: libtallowin.so\n")


class Base64Command(unittest.TestCase):
    def run_base64(self, *args, data=None):
        result = subprocess.run([CORVANE, "base64", *args], input=data,
                                capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_line_broken_and_unbroken_text(self):
        # Over one piece of the command's reader, so pieces must join.
        data = os.urandom(54 * 65536 + 1000)
        with tempfile.NamedTemporaryFile() as file:
            file.write(data)
            file.flush()
            text = self.run_base64(file.name)
            unbroken = self.run_base64(file.name, "--unbroken")
        expected = base64.b64encode(data)
        self.assertEqual(unbroken, expected)
        lines = text.split(b"\r\n")
        self.assertEqual(b"".join(lines), expected)
        self.assertTrue(all(len(line) == 72 for line in lines[:-1]))
        self.assertFalse(text.endswith(b"\r\n"))

    def test_standard_input(self):
        self.assertEqual(self.run_base64(data=b"foobar"), b"Zm9vYmFy")
        self.assertEqual(self.run_base64("-", data=b"fooba"), b"Zm9vYmE=")
        self.assertEqual(self.run_base64(data=b""), b"")

    def test_missing_file(self):
        result = subprocess.run([CORVANE, "base64", "/nonexistent/file"],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"/nonexistent/file", result.stderr)

    def test_directory_is_refused_with_a_message(self):
        with tempfile.TemporaryDirectory() as directory:
            named = subprocess.run([CORVANE, "base64", directory],
                                   capture_output=True, timeout=60)
            folder = os.open(directory, os.O_RDONLY)
            try:
                piped = subprocess.run([CORVANE, "base64"], stdin=folder,
                                       capture_output=True, timeout=60)
            finally:
                os.close(folder)
        for result, name in ((named, directory.encode()),
                             (piped, b"standard input")):
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stdout, b"")
            self.assertIn(name + b" is a directory", result.stderr)



class Base64DecodeCommand(unittest.TestCase):
    """`corvane base64 --decode` reads the text in pieces (this many
    characters each); the pieces must decode as the whole text does."""
    PIECE = 74 * 4 * 16384

    def decode(self, *args, data=None):
        return subprocess.run([CORVANE, "base64", "--decode", *args],
                              input=data, capture_output=True, timeout=120)

    def assert_refused(self, text, reason, offset):
        result = self.decode(data=text)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(b"standard input is not Base64: " + reason +
                      b" at offset " + str(offset).encode(), result.stderr)

    def test_both_forms_over_several_pieces_decode_to_the_bytes(self):
        data = os.urandom(self.PIECE + 1001)
        unbroken = base64.b64encode(data)
        lines = b"\r\n".join(unbroken[i:i + 72]
                              for i in range(0, len(unbroken), 72))
        for text in (unbroken, lines):
            result = self.decode(data=text)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout, data)
        with tempfile.NamedTemporaryFile() as file:
            file.write(lines)
            file.flush()
            self.assertEqual(self.decode(file.name).stdout, data)
        self.assertEqual(self.decode(data=b"").stdout, b"")
        self.assertEqual(self.decode("-", data=b"Zm9vYmE=").stdout, b"fooba")

    def test_malformed_text_is_refused_with_the_reason_and_offset(self):
        self.assert_refused(b"Zm9v YmFy", b"a character outside the Base64 "
                            b"alphabet", 4)
        self.assert_refused(b"Zm9vYg=", b"bad padding", 7)
        self.assert_refused(b"Zm9vYmFy\n", b"a line break where none belongs",
                            8)
        # Coreutils' form: lines of 76 characters ending in LF.
        text = base64.encodebytes(os.urandom(100))
        self.assert_refused(text, b"a line break where none belongs", 76)

    def test_pieces_that_decode_alone_but_not_joined_are_refused(self):
        one_line = base64.b64encode(os.urandom(self.PIECE))[:self.PIECE]
        # Padding that ends the first piece, with text after it.
        self.assert_refused(one_line[:-4] + b"Zg==" + b"Zm9v", b"bad padding",
                            self.PIECE)
        # A second piece that is line-broken after a one-line first.
        second = b"A" * 72 + b"\r\n" + b"AAAA"
        self.assert_refused(one_line + second,
                            b"a line break where none belongs",
                            self.PIECE + 72)
        # A second piece on one line after line-broken text.
        lines = b"\r\n".join([b"A" * 72] * (self.PIECE // 74)) + b"\r\n"
        self.assert_refused(lines + b"A" * 76,
                            b"a line break where none belongs",
                            self.PIECE + 72)

    def test_directory_is_refused_with_a_message(self):
        with tempfile.TemporaryDirectory() as directory:
            result = self.decode(directory)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(directory.encode() + b" is a directory", result.stderr)


if __name__ == "__main__":
    unittest.main()
