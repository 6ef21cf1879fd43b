# SPDX-License-Identifier: Apache-2.0
"""`corvane serve` on a free loopback port for the console's tests, with
helpers to post forms to it and to read the process's descriptors and
memory.

    with Console(data_dir, smtp=..., whois=...) as console:
        status, page = console.post("/whois", {"query": "widget.zz"})
"""

import http.client
import os
import re
import signal
import subprocess
import time
import urllib.parse
import uuid

from support.programs import program


def multipart(fields=(), files=()):
    """(body, content type) of a multipart/form-data form; `fields` are
    (name, text) pairs, `files` (field, file name, bytes) triples."""
    boundary = "----corvane" + uuid.uuid4().hex
    parts = []
    for name, value in fields:
        parts.append(
            f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"'
            f"\r\n\r\n".encode() + value.encode() + b"\r\n")
    for field, filename, data in files:
        parts.append(
            f'--{boundary}\r\nContent-Disposition: form-data; name="{field}"; '
            f'filename="{filename}"\r\nContent-Type: application/octet-stream'
            f"\r\n\r\n".encode() + data + b"\r\n")
    body = b"".join(parts) + f"--{boundary}--\r\n".encode()
    return body, "multipart/form-data; boundary=" + boundary


class Console:
    def __init__(self, data, *options, smtp=None, whois=None,
                 environment=None):
        self.data = data
        self.environment = {**os.environ, **(environment or {})}
        self.options = list(options)
        if smtp:
            self.options += ["--smtp", smtp]
        if whois:
            self.options += ["--whois", whois]
        self.process = None
        self.port = None

    @property
    def origin(self):
        return f"http://127.0.0.1:{self.port}"

    def url(self, path):
        return self.origin + path

    def __enter__(self):
        self.log = open(os.path.abspath(self.data) + ".log", "w+b")
        self.process = subprocess.Popen(
            [program("corvane"), "serve", "--listen", "127.0.0.1:0",
             "--data", self.data, *self.options],
            stdout=subprocess.PIPE, stderr=self.log, env=self.environment)
        line = self.process.stdout.readline().decode()
        if not line.startswith("Listening on http://127.0.0.1:"):
            self.process.kill()
            self.process.wait()
            raise RuntimeError("corvane serve did not start: " + line
                               + self.server_log())
        self.port = int(line.rsplit(":", 1)[1].strip("/\n"))
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.stop()
        self.process.stdout.close()
        self.log.close()

    def stop(self, timeout=60):
        """SIGTERM, then the exit status once the process has ended."""
        self.process.send_signal(signal.SIGTERM)
        return self.process.wait(timeout=timeout)

    def server_log(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def logged(self, pattern, timeout=10):
        """The server's log once a line matches `pattern`: the server logs
        a request after its answer has gone out, so the line may follow
        the answer by a moment. The log as it is after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            log = self.server_log()
            if re.search(pattern, log) or time.monotonic() > deadline:
                return log
            time.sleep(0.02)

    def fetch(self, method, path, body=None, headers=None):
        """(status, body bytes, response headers)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port,
                                                timeout=120)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return (response.status, response.read(),
                    dict(response.getheaders()))
        finally:
            connection.close()

    def request(self, method, path, body=None, headers=None):
        """(status, page text, response headers)."""
        status, content, answer = self.fetch(method, path, body, headers)
        return status, content.decode(errors="replace"), answer

    def get(self, path):
        status, page, _ = self.request("GET", path)
        return status, page

    def post(self, path, fields=None, files=None, origin=True, headers=None):
        """Posts a form: multipart when `files` is given, else URL-encoded.
        `origin` True sends the console's own Origin, a text sends that."""
        if files is not None:
            body, content_type = multipart(list((fields or {}).items()), files)
        else:
            body = urllib.parse.urlencode(fields or {}, doseq=True).encode()
            content_type = "application/x-www-form-urlencoded"
        sent = {"Content-Type": content_type}
        if origin:
            sent["Origin"] = self.origin if origin is True else origin
        sent.update(headers or {})
        status, page, _ = self.request("POST", path, body, sent)
        return status, page

    def status(self):
        """(open descriptors, resident kilobytes) of the server process."""
        descriptors = len(os.listdir(f"/proc/{self.process.pid}/fd"))
        with open(f"/proc/{self.process.pid}/status") as text:
            for line in text:
                if line.startswith("VmRSS:"):
                    return descriptors, int(line.split()[1])
        raise RuntimeError("no VmRSS")
