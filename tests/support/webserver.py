# SPDX-License-Identifier: Apache-2.0
"""A lighttpd web server on a free loopback port that runs CGI programs.

    with LighttpdServer({"echo.cgi": [path_to_program, "arg"]}) as server:
        urllib.request.urlopen(server.url("echo.cgi"))

Each program is reached through a small wrapper script, so that it can take
arguments and environment variables; the server stops when the block ends.
"""

import os
import shlex
import shutil
import socket
import subprocess
import tempfile
import time

from support.ports import PortTaken, start_on_a_free_port

LIGHTTPD = shutil.which("lighttpd") or "/usr/sbin/lighttpd"



class LighttpdServer:
    def __init__(self, programs, environment=None, max_request_kbytes=0):
        self.programs = programs
        self.environment = dict(environment or {})
        self.max_request_kbytes = max_request_kbytes
        self.port = None
        self.process = None
        self.root = None

    def url(self, name, query=""):
        address = f"http://127.0.0.1:{self.port}/{name}"
        return f"{address}?{query}" if query else address

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="corvane-www-")
        docs = os.path.join(self.root, "docs")
        os.mkdir(docs)
        for name, command in self.programs.items():
            self._write_wrapper(os.path.join(docs, name), command)
        start_on_a_free_port(lambda port: self._start(port, docs))
        return self

    def _start(self, port, docs):
        self.port = port
        config = os.path.join(self.root, "lighttpd.conf")
        with open(config, "w") as out:
            out.write(self._config(docs))
        self.log = open(os.path.join(self.root, "server.log"), "w+")
        self.process = subprocess.Popen(
            [LIGHTTPD, "-D", "-f", config],
            stdout=self.log, stderr=subprocess.STDOUT)
        try:
            self._wait_until_listening()
        except PortTaken:
            self.log.close()
            raise

    def __exit__(self, *exc):
        if self.process:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def server_log(self):
        self.log.flush()
        with open(self.log.name) as text:
            return text.read()

    def _write_wrapper(self, path, command):
        exports = "".join(
            f"export {key}={shlex.quote(value)}\n"
            for key, value in self.environment.items())
        with open(path, "w") as out:
            out.write("#!/bin/sh\n" + exports + "exec "
                      + " ".join(shlex.quote(str(part)) for part in command)
                      + "\n")
        os.chmod(path, 0o755)

    def _config(self, docs):
        lines = [
            'server.modules = ("mod_cgi")',
            f'server.document-root = "{docs}"',
            'server.bind = "127.0.0.1"',
            f"server.port = {self.port}",
            f'server.errorlog = "{self.root}/error.log"',
            'cgi.assign = (".cgi" => "")',
            'mimetype.assign = (".html" => "text/html")',
        ]
        if self.max_request_kbytes:
            lines.append(f"server.max-request-size = {self.max_request_kbytes}")
        return "\n".join(lines) + "\n"

    def _error_log(self):
        try:
            with open(os.path.join(self.root, "error.log")) as text:
                return text.read()
        except OSError:
            return ""

    def _wait_until_listening(self):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                log = self.server_log() + self._error_log()
                if "Address already in use" in log:
                    raise PortTaken(f"lighttpd: port {self.port} taken")
                raise RuntimeError("lighttpd stopped: " + log)
            try:
                with socket.create_connection(("127.0.0.1", self.port), 0.2):
                    return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("lighttpd did not start listening")
