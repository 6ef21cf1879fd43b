# SPDX-License-Identifier: Apache-2.0
"""Wharfpost installed as an administrator would: the program and its .ini
file copied into a CGI folder, beside an upload root, all in one scratch
folder; plus multipart bodies built as browsers send them."""

import os
import shutil
import subprocess
import tempfile

from support.programs import program

BOUNDARY = "----WharfpostTestBoundary7MA4YWxk"


def multipart(parts, boundary=BOUNDARY, closing=True):
    """A multipart/form-data body of (name, value) text fields and
    (name, filename, content) file fields."""
    body = b""
    for part in parts:
        body += b"--" + boundary.encode() + b"\r\n"
        if len(part) == 2:
            name, value = part
            body += f'Content-Disposition: form-data; name="{name}"\r\n\r\n'.encode()
            body += value if isinstance(value, bytes) else value.encode()
        else:
            name, filename, content = part
            body += (f'Content-Disposition: form-data; name="{name}"; '
                     f'filename="{filename}"\r\n'
                     "Content-Type: application/octet-stream\r\n\r\n").encode()
            body += content
        body += b"\r\n"
    if closing:
        body += b"--" + boundary.encode() + b"--\r\n"
    return body


class Installation:
    """A scratch folder with a document root www/ holding
    cgi-bin/wharfpost and cgi-bin/wharfpost.ini, and the upload root root/.
    Every level can be read by a server that runs as another user, and the
    upload root written."""

    def __init__(self, ini="", name="wharfpost"):
        self.top = tempfile.mkdtemp(prefix="wharfpost-test-")
        self.www = os.path.join(self.top, "www")
        self.cgi = os.path.join(self.www, "cgi-bin")
        self.root = os.path.join(self.top, "root")
        os.makedirs(self.cgi)
        os.mkdir(self.root)
        os.chmod(self.top, 0o755)
        os.chmod(self.root, 0o777)
        self.program = os.path.join(self.cgi, name)
        shutil.copy2(program("wharfpost"), self.program)
        self.write_ini(f"[Wharfpost]\nUploadRoot={self.root}\n" + ini)

    def write_ini(self, text):
        with open(os.path.join(self.cgi, "wharfpost.ini"), "w") as out:
            out.write(text)

    def remove(self):
        shutil.rmtree(self.top, ignore_errors=True)

    def run(self, body=b"", cookies="", referrer="http://127.0.0.1/forms/page.htm",
            query="", content_type=None, content_length=None, stdin=None,
            timeout=30, stdout=None):
        """Runs one request; returns the completed process (stdout bytes,
        unless `stdout` is a file the answer goes to instead)."""
        environment = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "REQUEST_METHOD": "POST",
            "CONTENT_LENGTH": str(len(body) if content_length is None
                                  else content_length),
            "CONTENT_TYPE": content_type or
            f"multipart/form-data; boundary={BOUNDARY}",
            "QUERY_STRING": query,
            "HTTP_REFERER": referrer,
            "HTTP_COOKIE": cookies,
        }
        if stdout is not None:
            return subprocess.run([self.program], input=body, env=environment,
                                  stdout=stdout, stderr=subprocess.PIPE,
                                  timeout=timeout)
        if stdin is not None:
            return subprocess.run([self.program], stdin=stdin,
                                  env=environment, capture_output=True,
                                  timeout=timeout)
        return subprocess.run([self.program], input=body, env=environment,
                              capture_output=True, timeout=timeout)

    def location(self, *args, **kwargs):
        """The whole Location line of the answer (without its CR LF)."""
        out = self.run(*args, **kwargs).stdout
        head, _, rest = out.partition(b"\r\n")
        assert rest == b"\r\n", out
        assert head.startswith(b"Location: "), out
        return head[len(b"Location: "):].decode("latin-1")

    def names(self, sub=""):
        """Every name in a folder under the root (hidden ones included)."""
        return sorted(os.listdir(os.path.join(self.root, sub)))

    def read(self, path):
        with open(os.path.join(self.root, path), "rb") as f:
            return f.read()
