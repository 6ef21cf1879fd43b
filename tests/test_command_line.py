# SPDX-License-Identifier: Apache-2.0
"""The corvane program's command line as a person meets it: exit statuses
0 (done), 1 (failed) and 2 (wrong usage), messages that name the thing and
the reason, and an example in every subcommand's help."""

import os
import subprocess
import tempfile
import unittest

from support.programs import program
from support.smtp_servers import RealSmtpServer

CORVANE = program("corvane")


def corvane(*args, stdin=""):
    return subprocess.run([CORVANE, *args], input=stdin, capture_output=True,
                          text=True, timeout=60)


def subcommands(*words):
    """The subcommands that `corvane WORDS... --help` lists."""
    out = corvane(*words, "--help").stdout
    listed = out.split("Subcommands:\n", 1)[1] if "Subcommands:" in out else ""
    return [line.split()[0] for line in listed.splitlines()
            if line.startswith("  ") and line.strip()]


class ExitStatus(unittest.TestCase):
    def test_usage_errors_exit_2_and_say_what_is_wrong(self):
        cases = [
            (("foo",), "corvane: unknown subcommand: foo\n"),
            ((), "corvane: a subcommand is required: "),
            (("files", "ls"), "corvane: "),
            (("files", "ls", "/", "--colour"), "corvane: "),
        ]
        for args, start in cases:
            with self.subTest(args=args):
                result = corvane(*args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertTrue(result.stderr.startswith(start),
                                result.stderr)
                self.assertIn("--help' for more information", result.stderr)
                self.assertEqual(result.stdout, "")
        # The pointer names the subcommand that was used.
        self.assertIn("Try 'corvane files ls --help'",
                      corvane("files", "ls", "/", "--colour").stderr)

    def test_help_and_version_exit_0(self):
        for args in (("--help",), ("--version",), ("files", "--help"),
                     ("run", "--help")):
            with self.subTest(args=args):
                self.assertEqual(corvane(*args).returncode, 0)

    def test_missing_script_is_a_failure_naming_the_file(self):
        result = corvane("run", "/nonexistent/a.jsonl")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr,
                         "corvane run: no such file: /nonexistent/a.jsonl\n")


class Help(unittest.TestCase):
    def test_every_subcommand_shows_an_example(self):
        names = subcommands()
        self.assertLessEqual({"base64", "classes", "files", "mail", "run",
                              "serve", "upload", "whois"}, set(names))
        commands = [(name,) for name in names] + [
            ("files", name) for name in subcommands("files")]
        self.assertIn(("files", "mkdir"), commands)
        for words in commands:
            with self.subTest(command=" ".join(words)):
                out = corvane(*words, "--help").stdout
                self.assertIn("Example", out)
                self.assertIn("corvane " + words[0], out.split("Example")[1])

    def test_run_help_describes_the_step_format(self):
        out = corvane("run", "--help").stdout
        for text in ('{"create": PROGID, "as": NAME}', '"call": MEMBER',
                     '"put": MEMBER', '"page": NAME', '{"error": {"number"',
                     "bytes_base64", "# are skipped"):
            self.assertIn(text, out)


class MailLog(unittest.TestCase):
    def send(self, *log_options):
        with RealSmtpServer() as smtp:
            result = corvane("mail", "--server", smtp.address, "--from",
                             "a@example.org", "--to", "b@example.org",
                             "--subject", "s", "--body", "b", *log_options)
        return result, smtp.envelopes

    def test_log_in_the_folder_given(self):
        with tempfile.TemporaryDirectory() as folder:
            result, envelopes = self.send(f"--log={folder}")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(len(envelopes), 1)
            with open(os.path.join(folder, "SendMail.log"), "rb") as log:
                self.assertIn(b"To: b@example.org\r\n", log.read())

    def test_unwritable_log_fails_before_sending(self):
        result, envelopes = self.send("--log=/nonexistent/folder")
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot write the send log "
                      "/nonexistent/folder/SendMail.log", result.stderr)
        self.assertEqual(envelopes, [])


class ServeStart(unittest.TestCase):
    def start(self, folder, redirection=""):
        """`corvane serve` started by a shell with `redirection`, once it
        has said where it listens."""
        process = subprocess.Popen(
            ["sh", "-c", 'exec "$0" serve --listen 127.0.0.1:0 --data "$1" '
             "--no-auth " + redirection, CORVANE, os.path.join(folder, "d")],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(process.stdout.close)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        line = process.stdout.readline().decode()
        self.assertTrue(line.startswith("Listening on "), line)
        return process

    def test_a_stop_signal_right_after_start_ends_the_console(self):
        with tempfile.TemporaryDirectory() as folder:
            process = self.start(folder)
            process.terminate()
            self.assertEqual(process.wait(10), 0)

    def test_a_closed_standard_error_is_held_on_dev_null(self):
        """So that what goes to standard error goes nowhere rather than
        into the first file or socket the program opens."""
        with tempfile.TemporaryDirectory() as folder:
            process = self.start(folder, "2>&-")
            self.assertEqual(os.readlink(f"/proc/{process.pid}/fd/2"),
                             "/dev/null")
            process.terminate()
            self.assertEqual(process.wait(10), 0)

if __name__ == "__main__":
    unittest.main()
