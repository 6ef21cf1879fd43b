# SPDX-License-Identifier: Apache-2.0
"""What the module's tests share: a registry of the build's components plus
the frame's test component (Corvane.Test), put in place before corvane is
imported, multipart bodies, and the example Flask application served on
loopback with a mail server and a whois server of its own."""

import atexit
import os
import shutil
import sys
import tempfile
import threading
import uuid
from wsgiref.simple_server import WSGIRequestHandler, make_server

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples", "python")
# The suite's loopback peers and browser driver (tests/support).
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests"))

BIN = os.environ.get("CORVANE_BIN", os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "default", "bin"))
TEST_CLSID = "{6C1B0F3E-2D4A-4E8B-9A51-3F7C2E9D0B14}"


def use_test_registry():
    """Points CORVANE_REGISTRY at a copy of the build's registry with
    Corvane.Test added; removed when the tests end."""
    folder = tempfile.mkdtemp(prefix="corvane-python-")
    atexit.register(shutil.rmtree, folder, True)
    registry = os.path.join(folder, "corvane.registry")
    with open(os.path.join(BIN, "corvane.registry")) as built:
        lines = built.read()
    library = os.path.abspath(os.path.join(BIN, "libcorvanetest.so"))
    with open(registry, "w") as out:
        out.write(lines + f"Corvane.Test\t{TEST_CLSID}\t{library}\n")
    os.environ["CORVANE_REGISTRY"] = registry


def multipart(fields=(), files=()):
    """(body, content type): `fields` are (name, text) pairs, `files`
    (field, file name, bytes) triples."""
    boundary = "----corvane" + uuid.uuid4().hex
    parts = []
    for name, value in fields:
        parts.append(f'--{boundary}\r\nContent-Disposition: form-data; '
                     f'name="{name}"\r\n\r\n'.encode() + value.encode() +
                     b"\r\n")
    for field, file_name, data in files:
        parts.append(f'--{boundary}\r\nContent-Disposition: form-data; '
                     f'name="{field}"; filename="{file_name}"\r\n'
                     f"Content-Type: application/octet-stream\r\n\r\n"
                     .encode() + data + b"\r\n")
    body = b"".join(parts) + f"--{boundary}--\r\n".encode()
    return body, f"multipart/form-data; boundary={boundary}"


class QuietHandler(WSGIRequestHandler):
    def log_message(self, *args):
        pass


class ExampleApp:
    """examples/python/app.py behind wsgiref on a loopback port, storing
    uploads in a scratch folder under `quota` bytes and `extensions`,
    sending mail to aiosmtpd (`smtp`) and asking a whois server that
    answers `whois_reply` (`whois`)."""

    def __init__(self, quota, extensions, whois_reply):
        self.quota = quota
        self.extensions = extensions
        self.whois_reply = whois_reply

    def __enter__(self):
        from support.smtp_servers import RealSmtpServer
        from support.whois_server import WhoisServer
        sys.path.insert(0, EXAMPLES)
        import app as example
        self.folder = tempfile.mkdtemp(prefix="corvane-flask-")
        self.smtp = RealSmtpServer().__enter__()
        self.whois = WhoisServer(self.whois_reply)
        application = example.create_app(
            self.folder, quota=self.quota, extensions=self.extensions,
            smtp_server=self.smtp.address, whois_server=self.whois.address)
        self.server = make_server("127.0.0.1", 0, application,
                                  handler_class=QuietHandler)
        self.port = self.server.server_port
        self.origin = f"http://127.0.0.1:{self.port}"
        self.thread = threading.Thread(target=self.server.serve_forever,
                                       daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()
        self.smtp.__exit__(None, None, None)
        self.whois.stop()
        shutil.rmtree(self.folder, True)
