# SPDX-License-Identifier: Apache-2.0
"""`corvane serve` on a free loopback port for the console's tests, with
helpers to post forms to it and to read the process's descriptors and
memory.

    with Console(data_dir, smtp=..., whois=...) as console:
        status, page = console.post("/whois", {"query": "widget.zz"})

Unless started with --no-auth, the console is entered as a person would:
through the address with the access token that it prints. Every request
of `request`, `get` and `post` then carries the session cookie, and every
form posted through them the session's form token."""

import http.client
import os
import re
import signal
import ssl
import subprocess
import time
import urllib.parse
import uuid

from support.programs import program

# The address with the access token of each running console, by its origin,
# for the browser tests (support.browser), which open it first.
LOGIN_URLS = {}
FORM_TOKEN = "form_token"


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
        self.login_url = None
        self.cookie = ""
        self.form_token = ""
        # With --tls-cert, HTTPS, trusting that certificate.
        self.tls = None
        if "--tls-cert" in self.options:
            self.tls = ssl.create_default_context(cafile=self.options[
                self.options.index("--tls-cert") + 1])

    @property
    def origin(self):
        scheme = "https" if self.tls else "http"
        return f"{scheme}://127.0.0.1:{self.port}"

    def url(self, path):
        return self.origin + path

    def __enter__(self):
        self.log = open(os.path.abspath(self.data) + ".log", "w+b")
        self.process = subprocess.Popen(
            [program("corvane"), "serve", "--listen", "127.0.0.1:0",
             "--data", self.data, *self.options],
            stdout=subprocess.PIPE, stderr=self.log, env=self.environment)
        line = self.process.stdout.readline().decode()
        scheme = "https" if self.tls else "http"
        if not line.startswith(f"Listening on {scheme}://127.0.0.1:"):
            self.process.kill()
            self.process.wait()
            raise RuntimeError("corvane serve did not start: " + line
                               + self.server_log())
        self.port = int(line.rsplit(":", 1)[1].strip("/\n"))
        if "--no-auth" not in self.options:
            self.log_in(self.process.stdout.readline().decode())
        return self

    def log_in(self, line):
        """Opens the printed address with the token; keeps the session's
        cookie and form token."""
        found = re.search(r"(https?://\S+\?token=\S+)", line)
        if not found:
            self.process.kill()
            self.process.wait()
            raise RuntimeError("corvane serve printed no address with a "
                               "token: " + line + self.server_log())
        self.login_url = found.group(1).replace("localhost", "127.0.0.1")
        target = self.login_url[len(self.origin):]
        status, _, headers = self.request("GET", target)
        if status != 303 or "Set-Cookie" not in headers:
            raise RuntimeError(f"the token address answered {status}")
        self.cookie = headers["Set-Cookie"].split(";", 1)[0]
        _, page, _ = self.request("GET", headers["Location"])
        self.form_token = re.search(
            r'<meta name="form-token" content="([^"]+)"', page).group(1)
        LOGIN_URLS[self.origin] = self.login_url

    def __exit__(self, *exc):
        LOGIN_URLS.pop(self.origin, None)
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

    def with_session(self, method, body, headers):
        """The body and headers with the session's cookie and, in a posted
        form, its form token first."""
        headers = dict(headers or {})
        if not self.cookie:
            return body, headers
        cookies = [headers.pop("Cookie", None), self.cookie]
        headers["Cookie"] = "; ".join(c for c in cookies if c)
        kind = next((v for k, v in headers.items()
                     if k.lower() == "content-type"), "")
        if method != "POST" or not isinstance(body, (bytes, str)):
            return body, headers
        if isinstance(body, str):
            body = body.encode()
        if kind.startswith("application/x-www-form-urlencoded"):
            field = f"{FORM_TOKEN}={self.form_token}".encode()
            body = field + (b"&" + body if body else b"")
        elif kind.startswith("multipart/form-data") and "boundary=" in kind:
            boundary = kind.split("boundary=", 1)[1].strip('"')
            body = (f'--{boundary}\r\nContent-Disposition: form-data; '
                    f'name="{FORM_TOKEN}"\r\n\r\n{self.form_token}\r\n'
                    ).encode() + body
        return body, headers

    def fetch(self, method, path, body=None, headers=None):
        """(status, body bytes, response headers)."""
        body, headers = self.with_session(method, body, headers)
        if self.tls:
            connection = http.client.HTTPSConnection(
                "127.0.0.1", self.port, timeout=120, context=self.tls)
        else:
            connection = http.client.HTTPConnection("127.0.0.1", self.port,
                                                    timeout=120)
        try:
            connection.request(method, path, body=body, headers=headers)
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
