#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Captures multipart/form-data bodies sent by independent clients (curl's
--form and Python's email + urllib) through a loopback HTTP server, and
writes each as data/NAME.body with its content type in data/NAME.type.
The unit tests feed these files to the component through MemoryHost."""

import email.encoders
import email.mime.application
import email.mime.multipart
import email.mime.text
import email.policy
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")

# Two binary files with every byte value, CR LF pairs and a fake delimiter
# line inside, so that only the real delimiter may end a part.
BINARY_A = bytes(range(256)) * 4 + b"\r\n--not-the-boundary\r\n" + bytes(64)
BINARY_B = b"\x89PNG\r\n\x1a\n" + bytes(reversed(range(256))) * 3
TEXT_WITH_CRLF = "first line\r\nsecond line\r\n"
# The email package rewrites bare line ends inside a payload, so the files
# it carries hold every byte value but CR and LF.
NO_LINE_ENDS = bytes(b for b in range(256) if b not in (10, 13))
PY_A = NO_LINE_ENDS * 4
PY_B = b"\x89PNG\x1a" + bytes(reversed(NO_LINE_ENDS)) * 3


class Capture(http.server.BaseHTTPRequestHandler):
    captured = {}

    def do_POST(self):
        length = int(self.headers["Content-Length"])
        Capture.captured[self.path.strip("/")] = (
            self.headers["Content-Type"], self.rfile.read(length))
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def capture_curl(url, files):
    subprocess.run(
        ["curl", "-s", "-o", "/dev/null", url,
         "--form", f"upload1=@{files['a']};type=application/octet-stream",
         "--form", f"upload2=@{files['utf8']}",
         "--form-string", f"note={TEXT_WITH_CRLF}",
         "--form", "title=Holiday"],
        check=True)


def python_body():
    message = email.mime.multipart.MIMEMultipart(
        "form-data", policy=email.policy.HTTP, boundary="PyStdlibBoundary7q")
    for name, filename, data in (("first", "a.bin", PY_A),
                                 ("second", "b.png", PY_B)):
        part = email.mime.application.MIMEApplication(
            data, "octet-stream", _encoder=email.encoders.encode_noop,
            policy=email.policy.HTTP)
        del part["MIME-Version"]
        part.add_header("Content-Disposition", "form-data", name=name,
                        filename=filename)
        message.attach(part)
    field = email.mime.text.MIMEText(TEXT_WITH_CRLF, "plain", "utf-8",
                                     policy=email.policy.HTTP)
    del field["MIME-Version"]
    del field["Content-Transfer-Encoding"]
    field.set_payload(TEXT_WITH_CRLF)
    field.add_header("Content-Disposition", "form-data", name="note")
    message.attach(field)
    whole = message.as_bytes(policy=email.policy.HTTP)
    return whole.split(b"\r\n\r\n", 1)[1]


def capture_urllib(url):
    request = urllib.request.Request(
        url, data=python_body(), method="POST",
        headers={"Content-Type":
                 "multipart/form-data; boundary=PyStdlibBoundary7q"})
    urllib.request.urlopen(request).read()


def main():
    server = http.server.HTTPServer(("127.0.0.1", 0), Capture)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_port}/"
    with tempfile.TemporaryDirectory() as scratch:
        files = {"a": os.path.join(scratch, "a.bin"),
                 "utf8": os.path.join(scratch, "naïve résumé.txt")}
        with open(files["a"], "wb") as out:
            out.write(BINARY_A)
        with open(files["utf8"], "wb") as out:
            out.write(BINARY_B)
        capture_curl(base + "curl", files)
    capture_urllib(base + "urllib")
    server.shutdown()
    os.makedirs(DATA, exist_ok=True)
    for name, (content_type, body) in Capture.captured.items():
        with open(os.path.join(DATA, name + ".body"), "wb") as out:
            out.write(body)
        with open(os.path.join(DATA, name + ".type"), "w") as out:
            out.write(content_type)
    for name, data in (("a.bin", BINARY_A), ("b.png", BINARY_B),
                       ("py-a.bin", PY_A), ("py-b.png", PY_B)):
        with open(os.path.join(DATA, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    sys.exit(main())
