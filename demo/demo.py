# SPDX-License-Identifier: Apache-2.0
"""Runs the example page script against the components of a build.

Starts Debian's aiosmtpd and a scripted whois server on loopback ports,
fills their addresses into demo/example.jsonl, runs it through
`corvane run` and prints each step beside its answer, then the message the
mail server received."""

import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

from support.ports import ClosedPort  # noqa: E402
from support.smtp_servers import RealSmtpServer  # noqa: E402
from support.whois_fixtures import DOMAIN_REPLY  # noqa: E402
from support.whois_server import WhoisServer  # noqa: E402

FORM_BODY = (
    b"--demo-boundary\r\n"
    b'Content-Disposition: form-data; name="comment"\r\n\r\n'
    b"Notes for the meeting\r\n"
    b"--demo-boundary\r\n"
    b'Content-Disposition: form-data; name="file1"; filename="notes.txt"\r\n'
    b"Content-Type: text/plain\r\n\r\n"
    b"1. Agenda\r\n2. Minutes\r\n"
    b"--demo-boundary--\r\n")


def script_lines(values):
    with open(os.path.join(HERE, "example.jsonl")) as template:
        for line in template:
            for key, value in values.items():
                line = line.replace("{%s}" % key, value)
            yield line


def explained_steps(lines):
    """(explanation, step) for each step of the script: the explanation is
    the comment block just above the step's group (empty for the rest of
    the group); a comment block followed by a blank line explains nothing."""
    steps = []
    comment = []
    for line in lines:
        text = line.strip()
        if not text:
            comment = []
            continue
        if text.startswith("#"):
            comment.append(text.lstrip("#").strip())
            continue
        steps.append((comment, text))
        comment = []
    return steps


def main(bin_dir):
    corvane = os.path.join(os.path.abspath(bin_dir), "corvane")
    with tempfile.TemporaryDirectory(prefix="corvane-demo-") as work, \
            RealSmtpServer() as mail_server, \
            WhoisServer(DOMAIN_REPLY) as whois_server, \
            ClosedPort() as closed:
        form = os.path.join(work, "form-body")
        with open(form, "wb") as out:
            out.write(FORM_BODY)
        lines = list(script_lines({
            "FORM_BODY": form, "UPLOADS": os.path.join(work, "uploads"),
            "SMTP": mail_server.address, "WHOIS": whois_server.address,
            "CLOSED": closed.address}))
        steps = explained_steps(lines)
        print("The demo started a mail server (aiosmtpd) on %s and a whois "
              "server on %s,\nboth on loopback, and runs demo/example.jsonl "
              "through `corvane run`.\nEach '>' line is a step of the page "
              "script, each '<' line the component's answer;\nthe text "
              "before a group of steps says what they do."
              % (mail_server.address, whois_server.address))
        result = subprocess.run([corvane, "run", "-"], input="".join(lines),
                                capture_output=True, text=True, timeout=300)
        for (explanation, step), answer in zip(steps,
                                               result.stdout.splitlines()):
            if explanation:
                print("\n== " + "\n   ".join(explanation))
            print("> " + step)
            print("< " + answer)
        if result.returncode != 0:
            sys.stderr.write(result.stderr)
            return result.returncode
        print("\n== The message the mail server received, with the uploaded "
              "file attached\n   (first 25 lines)")
        for envelope in mail_server.envelopes:
            print("envelope: from %s to %s" % (envelope.mail_from,
                                               envelope.rcpt_tos))
            text = envelope.content.decode("utf-8", "replace")
            print("\n".join(text.splitlines()[:25]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/default/bin"))
