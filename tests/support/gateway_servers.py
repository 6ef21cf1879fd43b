# SPDX-License-Identifier: Apache-2.0
"""lighttpd and Apache httpd on free loopback ports, serving a Wharfpost
installation: its www/ folder as the document root, www/cgi-bin/ run as CGI.

    with Lighttpd(installation) as server:
        server.url("/cgi-bin/wharfpost")
"""

import os
import shutil
import socket
import subprocess
import time

from support.ports import PortTaken, start_on_a_free_port

LIGHTTPD = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
APACHE = shutil.which("apache2") or "/usr/sbin/apache2"
APACHE_MODULES = "/usr/lib/apache2/modules"


class Server:
    name = ""

    def __init__(self, site):
        self.site = site
        self.port = None
        self.process = None

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def __enter__(self):
        self.folder = os.path.join(self.site.top, self.name)
        os.mkdir(self.folder)
        start_on_a_free_port(self._start)
        return self

    def _start(self, port):
        self.port = port
        config = os.path.join(self.folder, "server.conf")
        with open(config, "w") as out:
            out.write(self.config())
        self.log = open(os.path.join(self.folder, "console.log"), "w+")
        # A session of its own: Apache's prefork signals its whole process
        # group when it stops.
        self.process = subprocess.Popen(self.command(config), stdout=self.log,
                                        stderr=subprocess.STDOUT,
                                        start_new_session=True)
        try:
            self._wait_until_listening()
        except PortTaken:
            self.log.close()
            raise

    def __exit__(self, *exc):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()

    def logs(self):
        text = ""
        for name in sorted(os.listdir(self.folder)):
            if name.endswith(".log"):
                with open(os.path.join(self.folder, name), errors="replace") as f:
                    text += f"== {name}\n" + f.read()
        return text

    def _wait_until_listening(self):
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                logs = self.logs()
                if "Address already in use" in logs:
                    raise PortTaken(f"{self.name}: port {self.port} taken")
                raise RuntimeError(f"{self.name} stopped:\n" + logs)
            try:
                with socket.create_connection(("127.0.0.1", self.port), 0.2):
                    return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError(f"{self.name} did not start listening")


class Lighttpd(Server):
    name = "lighttpd"

    def command(self, config):
        return [LIGHTTPD, "-D", "-f", config]

    def config(self):
        return "\n".join([
            'server.modules = ("mod_cgi")',
            f'server.document-root = "{self.site.www}"',
            'server.bind = "127.0.0.1"',
            f"server.port = {self.port}",
            f'server.errorlog = "{self.folder}/error.log"',
            'mimetype.assign = (".html" => "text/html", ".asp" => "text/html")',
            '$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ("" => "") }',
        ]) + "\n"


class Apache(Server):
    name = "apache"

    def command(self, config):
        return [APACHE, "-f", config, "-DFOREGROUND"]

    def config(self):
        modules = ["mpm_prefork", "authz_core", "alias", "cgi", "mime", "dir"]
        lines = [f"LoadModule {m}_module {APACHE_MODULES}/mod_{m}.so"
                 for m in modules]
        folder, www = self.folder, self.site.www
        lines += [
            "ServerName 127.0.0.1",
            f"Listen 127.0.0.1:{self.port}",
            f"ServerRoot {folder}",
            f"DefaultRuntimeDir {folder}",
            f"PidFile {folder}/httpd.pid",
            f"ErrorLog {folder}/error.log",
            "LogLevel info",
            "User www-data",
            "Group www-data",
            "StartServers 2",
            f"DocumentRoot {www}",
            "TypesConfig /dev/null",
            "AddType text/html .html .asp",
            f'ScriptAlias /cgi-bin/ "{self.site.cgi}/"',
            f'<Directory "{www}">',
            "  Require all granted",
            "</Directory>",
            f'<Directory "{self.site.cgi}">',
            "  Options +ExecCGI",
            "  Require all granted",
            "</Directory>",
        ]
        return "\n".join(lines) + "\n"
