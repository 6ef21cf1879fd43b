#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Requests per second and latency percentiles (p50, p99) of `corvane
serve` for the Whois page (against the loopback whois server) and for
64 KiB uploads, with 1, 4 and 16 concurrent clients, beside the same upload
handled by `corvane upload` as a CGI program behind lighttpd (a process per
request), in the same run. Target: the console's uploads per second at 16
clients at least 5 times the CGI way's.

Then, with ab (apache2-utils) driving kept-alive connections:
- `GET /` from 16 clients, beside nginx serving the same page as a static
  file, in alternating runs (the machine's speed drifts from run to run).
  Target: at least 0.8 times nginx's rate, the medians compared.
- 100 KiB uploads from 64 clients, beside the CGI way. Targets: p99 at
  most 60 ms, the console's CPU time per request at most 0.7 ms.
- The console's resident memory, sampled through each run of 20,000
  requests after 2,000 to warm up. Target: no growth in the second half.
A comparison whose program is missing is skipped.

Then large uploads: 16 clients at once each send the same 1 GiB file
(sent from the page cache with sendfile) to the Gateway page, whose
program gets the body through a pipe, and to the Upload page. Target: the
console's peak resident memory at most 64 MiB above its idle size, every
stored file byte-identical. The Upload page's case runs only when a probe
shows that page streaming (Cargane reading the body in pieces); else it
says so and is skipped, since 16 whole bodies would fill the memory.

Environment: CORVANE_BIN (the build's bin folder); SERVE_BENCH_REQUESTS
(requests per case of the first part, 600 by default); SERVE_BENCH_AB
(requests per ab run, 20,000 by default); SERVE_BENCH_PART=ab or =large
runs only those cases; SERVE_BENCH_LARGE_MIB (the large file's size,
1024 by default) and SERVE_BENCH_LARGE_CLIENTS (16 by default)."""

import hashlib
import statistics
import http.client
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import types
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "tests"))

from support.console import Console, multipart  # noqa: E402
from support.gateway_servers import Server  # noqa: E402
from support.programs import program  # noqa: E402
from support.webserver import LighttpdServer  # noqa: E402
from support.whois_fixtures import DOMAIN_REPLY  # noqa: E402
from support.whois_server import WhoisServer  # noqa: E402

REQUESTS = int(os.environ.get("SERVE_BENCH_REQUESTS", "600"))
CLIENTS = (1, 4, 16)
UPLOAD = os.urandom(64 * 1024)
TARGET = 5
AB_REQUESTS = int(os.environ.get("SERVE_BENCH_AB", "20000"))
AB = shutil.which("ab")
NGINX = shutil.which("nginx") or shutil.which("/usr/sbin/nginx")
PAGE_CLIENTS = 16
PAGE_TARGET = 0.8
# Alternating ab runs of the console's page and nginx's file.
PAGE_ROUNDS = 5
UPLOAD_CLIENTS = 64
BIG_UPLOAD = os.urandom(100 * 1024)
P99_TARGET_MS = 60
CPU_TARGET_MS = 0.7
WARM_UP = 2000
# Resident memory that may come and go between samples without counting as
# growth: the allocator's pools move by a few pages.
RSS_SLACK_KIB = 1024
LARGE_MIB = int(os.environ.get("SERVE_BENCH_LARGE_MIB", "1024"))
LARGE_CLIENTS = int(os.environ.get("SERVE_BENCH_LARGE_CLIENTS", "16"))
LARGE_TARGET_MIB = 64
# A probe upload of this size that grows the console by more than half of
# it shows a page that holds the body whole.
PROBE_MIB = 64


def measure(port, clients, make_request):
    """(requests per second, p50 ms, p99 ms); every answer must be 200."""
    latencies, failures = [], []
    counter = iter(range(REQUESTS))
    lock = threading.Lock()

    def client():
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        while True:
            with lock:
                number = next(counter, None)
            if number is None:
                break
            method, path, body, headers = make_request(number)
            start = time.perf_counter()
            connection.request(method, path, body, headers)
            response = connection.getresponse()
            response.read()
            latencies.append(time.perf_counter() - start)
            if response.status != 200:
                failures.append(response.status)
            if response.getheader("Connection", "").lower() == "close":
                connection.close()
                connection = http.client.HTTPConnection("127.0.0.1", port,
                                                        timeout=60)
        connection.close()

    threads = [threading.Thread(target=client) for _ in range(clients)]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    elapsed = time.perf_counter() - start
    if failures:
        raise RuntimeError(f"{len(failures)} answers were not 200: "
                           f"{sorted(set(failures))}")
    latencies.sort()
    pick = lambda q: latencies[min(len(latencies) - 1,
                                   int(q * len(latencies)))] * 1000
    return REQUESTS / elapsed, pick(0.50), pick(0.99)


def upload_request(origin, path):
    def make(number):
        body, content_type = multipart(
            [("n", str(number))], [("file1", f"b{number % 64}.bin", UPLOAD)])
        return "POST", path, body, {"Content-Type": content_type,
                                    "Origin": origin}
    return make


def whois_request(origin):
    body = b"query=widget.zz"
    headers = {"Content-Type": "application/x-www-form-urlencoded",
               "Origin": origin}
    return lambda number: ("POST", "/whois", body, headers)


def report(name, clients, figures):
    rate, p50, p99 = figures
    print(f"{name:<26} {clients:>3} clients  {rate:8.1f} req/s  "
          f"p50 {p50:7.2f} ms  p99 {p99:7.2f} ms", flush=True)
    return rate


class Nginx(Server):
    """nginx on a free loopback port serving `root` as static files, with
    its own prefix folder `top`/nginx; stopped, with its workers, when the
    block ends."""

    name = "nginx"

    def __init__(self, root, top):
        super().__init__(types.SimpleNamespace(top=top))
        self.root = root

    def command(self, config):
        return [NGINX, "-p", self.folder, "-c", config, "-e",
                os.path.join(self.folder, "error.log")]

    def config(self):
        folder = self.folder
        temp = " ".join(f"{kind}_temp_path {folder}/{kind};" for kind in
                        ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        return f"""daemon off;
worker_processes auto;
pid {folder}/nginx.pid;
error_log {folder}/error.log;
events {{ worker_connections 1024; }}
http {{
  types {{ text/html html; }}
  access_log {folder}/access.log;
  {temp}
  server {{
    listen 127.0.0.1:{self.port};
    root {self.root};
    index index.html;
  }}
}}
"""


class Process:
    """CPU time and resident memory of a running process, from /proc."""

    TICK = os.sysconf("SC_CLK_TCK")

    def __init__(self, pid):
        self.pid = pid

    def cpu_seconds(self):
        with open(f"/proc/{self.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / self.TICK

    def rss_kib(self):
        with open(f"/proc/{self.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0


class Sampler:
    """Samples a process's resident memory every 50 ms while it runs."""

    def __init__(self, process):
        self.process = process
        self.samples = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run)

    def _run(self):
        while not self._stop.wait(0.05):
            self.samples.append(self.process.rss_kib())

    def __enter__(self):
        self.samples.append(self.process.rss_kib())
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()
        self.samples.append(self.process.rss_kib())


def ab(url, clients, requests, post=None, headers=()):
    """Runs ab with kept-alive connections: (requests per second, p50 ms,
    p99 ms). `post` is (body file, content type). Raises when a request
    failed or an answer was not 2xx."""
    with tempfile.NamedTemporaryFile(suffix=".csv") as percentiles:
        command = [AB, "-q", "-k", "-s", "60", "-c", str(clients), "-n",
                   str(requests), "-e", percentiles.name]
        for header in headers:
            command += ["-H", header]
        if post:
            command += ["-p", post[0], "-T", post[1]]
        result = subprocess.run(command + [url], capture_output=True,
                                text=True)
        if result.returncode != 0:
            raise RuntimeError(f"ab failed: {result.stderr.strip()}")
        rows = {}
        for line in open(percentiles.name).read().splitlines()[1:]:
            percent, ms = line.split(",")
            rows[int(float(percent))] = float(ms)
    figures = {}
    for line in result.stdout.splitlines():
        name, _, value = line.partition(":")
        figures[name.strip()] = value.strip()
    # ab counts an answer whose length differs from the first one's as
    # failed; a page that names what it stored may differ in length.
    kinds = re.search(r"\(Connect: (\d+), Receive: (\d+), Length: \d+, "
                      r"Exceptions: (\d+)\)", result.stdout)
    failed = sum(map(int, kinds.groups())) if kinds else 0
    not_ok = int(figures.get("Non-2xx responses", "0").split()[0])
    if failed or not_ok:
        raise RuntimeError(f"ab: {failed} failed requests, {not_ok} answers "
                           f"not 2xx, from {url}")
    rate = float(figures["Requests per second"].split()[0])
    return rate, rows.get(50, 0.0), rows.get(99, 0.0)


def report_ab(name, clients, figures, cpu_ms=None):
    rate, p50, p99 = figures
    cpu = f"  CPU {cpu_ms:.3f} ms/req" if cpu_ms is not None else ""
    print(f"{name:<26} {clients:>3} clients  {rate:8.1f} req/s  "
          f"p50 {p50:7.2f} ms  p99 {p99:7.2f} ms{cpu}", flush=True)


def measured(process, run):
    """(figures of `run`, CPU ms per request, (RSS KiB after a warm-up,
    halfway, at the end)): a warm-up of WARM_UP requests, then
    AB_REQUESTS."""
    run(WARM_UP)
    with Sampler(process) as sampler:
        cpu = process.cpu_seconds()
        figures = run(AB_REQUESTS)
        cpu_ms = (process.cpu_seconds() - cpu) * 1000 / AB_REQUESTS
    samples = sampler.samples
    return figures, cpu_ms, (samples[0], samples[len(samples) // 2],
                             samples[-1])


def report_rss(name, rss):
    start, middle, last = rss
    # The allocator's pools settle while the workers first meet the load;
    # what the second half of the run adds would be a leak.
    growth = last - middle
    verdict = "met" if growth <= RSS_SLACK_KIB else "NOT met"
    print(f"{name}: RSS {start / 1024:.1f} MiB after {WARM_UP} requests, "
          f"{middle / 1024:.1f} MiB halfway, {last / 1024:.1f} MiB after "
          f"{AB_REQUESTS} more (no growth in the second half: {verdict})",
          flush=True)


def verdict(met):
    return "met" if met else "NOT met"


def page_beside_nginx(scratch, html, page_url):
    """The console's `GET /` and nginx serving the same page as a file,
    PAGE_ROUNDS runs each, alternating, the first of a round swapped each
    round: each run's rate, the medians and their ratio."""
    root = os.path.join(scratch, "static")
    os.makedirs(root)
    with open(os.path.join(root, "index.html"), "wb") as out:
        out.write(html)
    # nginx's workers run as another user when started by root.
    for folder in (scratch, root):
        os.chmod(folder, 0o755)
    os.chmod(os.path.join(root, "index.html"), 0o644)
    rates = {"console": [], "nginx": []}
    with Nginx(root, scratch) as nginx:
        urls = {"console": page_url,
                "nginx": f"http://127.0.0.1:{nginx.port}/"}
        ab(urls["nginx"], PAGE_CLIENTS, WARM_UP)
        for turn in range(PAGE_ROUNDS):
            order = ("console", "nginx") if turn % 2 == 0 else ("nginx",
                                                              "console")
            for name in order:
                figures = ab(urls[name], PAGE_CLIENTS, AB_REQUESTS)
                rates[name].append(figures[0])
                report_ab(f"{name} GET /, run {turn + 1}", PAGE_CLIENTS,
                          figures)
    console, nginx = (statistics.median(rates[name])
                      for name in ("console", "nginx"))
    ratio = console / nginx
    rounds = [ours / theirs
              for ours, theirs in zip(rates["console"], rates["nginx"])]
    print(f"GET / at {PAGE_CLIENTS} clients, medians of {PAGE_ROUNDS} "
          f"alternating runs: console {console:.0f} req/s, nginx (static) "
          f"{nginx:.0f} req/s, console / nginx = {ratio:.2f}x (rounds "
          f"{min(rounds):.2f}-{max(rounds):.2f}x; target {PAGE_TARGET}x: "
          f"{verdict(ratio >= PAGE_TARGET)})", flush=True)


def ab_cases(scratch):
    """The console's page and uploads under ab, beside nginx and the CGI
    way."""
    if not AB:
        print("ab (apache2-utils) is missing: the kept-alive cases are "
              "skipped")
        return
    body, content_type = multipart([("n", "1")],
                                   [("file1", "big.bin", BIG_UPLOAD)])
    body_file = os.path.join(scratch, "upload.body")
    with open(body_file, "wb") as out:
        out.write(body)
    print(f"ab, kept-alive connections, {AB_REQUESTS} requests a run after "
          f"{WARM_UP} to warm up")
    with Console(os.path.join(scratch, "ab-var"), "--no-auth") as console:
        process = Process(console.process.pid)
        page_url = console.url("/")
        page = http.client.HTTPConnection("127.0.0.1", console.port)
        page.request("GET", "/")
        html = page.getresponse().read()
        page.close()
        figures, cpu_ms, rss = measured(
            process, lambda n: ab(page_url, PAGE_CLIENTS, n))
        report_ab("console GET /", PAGE_CLIENTS, figures, cpu_ms)
        report_rss("console GET /", rss)
        if NGINX:
            page_beside_nginx(scratch, html, page_url)
        else:
            print("nginx is missing: the static page comparison is skipped")
        upload = lambda n: ab(console.url("/upload"), UPLOAD_CLIENTS, n,
                              (body_file, content_type),
                              [f"Origin: {console.origin}"])
        figures, cpu_ms, rss = measured(process, upload)
        report_ab("console 100 KiB upload", UPLOAD_CLIENTS, figures, cpu_ms)
        report_rss("console 100 KiB upload", rss)
        print(f"uploads at {UPLOAD_CLIENTS} clients: p99 {figures[2]:.1f} ms "
              f"(target {P99_TARGET_MS} ms: "
              f"{verdict(figures[2] <= P99_TARGET_MS)}), CPU "
              f"{cpu_ms:.3f} ms a request (target {CPU_TARGET_MS} ms: "
              f"{verdict(cpu_ms <= CPU_TARGET_MS)})", flush=True)
    cgi_dir = os.path.join(scratch, "ab-cgi")
    with LighttpdServer({"upload.cgi": [program("corvane"), "upload",
                                        "--dir", cgi_dir, "--ext", "*"]}
                        ) as server:
        figures = ab(server.url("upload.cgi"), UPLOAD_CLIENTS,
                     max(AB_REQUESTS // 10, 100),
                     (body_file, content_type))
        report_ab("CGI 100 KiB upload", UPLOAD_CLIENTS, figures)


def post_file(console, path, field, name, source):
    """Posts the file `source` as the form field `field` named `name`,
    the body's middle sent with sendfile; the answer's status and head."""
    boundary = "----bench" + uuid.uuid4().hex
    start = (f'--{boundary}\r\nContent-Disposition: form-data; '
             f'name="{field}"; filename="{name}"\r\nContent-Type: '
             'application/octet-stream\r\n\r\n').encode()
    end = f"\r\n--{boundary}--\r\n".encode()
    size = os.path.getsize(source)
    head = (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{console.port}\r\n"
            f"Origin: {console.origin}\r\nReferer: {console.origin}/gateway/"
            "\r\nCookie: WharfpostToWhere=console\r\nContent-Type: "
            f"multipart/form-data; boundary={boundary}\r\nContent-Length: "
            f"{len(start) + size + len(end)}\r\nConnection: close\r\n\r\n"
            ).encode()
    with socket.create_connection(("127.0.0.1", console.port),
                                  timeout=300) as s, open(source, "rb") as f:
        s.sendall(head + start)
        s.sendfile(f)
        s.sendall(end)
        answer = s.makefile("rb").readline().decode(errors="replace")
    return answer.strip()


def digest_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        for chunk in iter(lambda: data.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest()


def large_uploads(console, page, path, field, folder, source, want,
                  clients):
    """`clients` uploads of `source` at once to `path`: (peak RSS growth
    above idle in MiB, seconds, every file byte-identical)."""
    process = Process(console.process.pid)
    idle = process.rss_kib()
    answers = [None] * clients
    threads = [threading.Thread(target=lambda n=n: answers.__setitem__(
        n, post_file(console, path, field, f"{page}-{n}.bin", source)))
        for n in range(clients)]
    started = time.monotonic()
    with Sampler(process) as sampler:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    seconds = time.monotonic() - started
    identical = True
    for n, answer in enumerate(answers):
        stored = os.path.join(folder, f"{page}-{n}.bin")
        same = os.path.exists(stored) and digest_of(stored) == want
        if not same:
            print(f"  {page} upload {n}: {answer}; the stored file differs "
                  "or is missing", flush=True)
        identical = identical and same
        if os.path.exists(stored):
            os.remove(stored)
    return (max(sampler.samples) - idle) / 1024, seconds, identical


def large_cases(scratch):
    """Concurrent uploads of a large file to the Gateway and Upload
    pages, the console's memory sampled."""
    source = os.path.join(scratch, "large.bin")
    with open(source, "wb") as out:
        for _ in range(LARGE_MIB):
            out.write(os.urandom(1 << 20))
    want = digest_of(source)
    probe = os.path.join(scratch, "probe.bin")
    with open(probe, "wb") as out:
        out.write(os.urandom(PROBE_MIB << 20))
    probe_want = digest_of(probe)
    data = os.path.join(scratch, "large-var")
    sent = LARGE_CLIENTS * LARGE_MIB
    print(f"{LARGE_CLIENTS} concurrent uploads of a {LARGE_MIB} MiB file "
          f"({sent} MiB in all)", flush=True)
    with Console(data, "--no-auth", "--threads", str(LARGE_CLIENTS),
                 "--max-body", str((LARGE_MIB + 1) << 20)) as console:
        pages = (("gateway", "/gateway/wharfpost", "upload1",
                  os.path.join(data, "gateway", "console")),
                 ("upload", "/upload", "file", os.path.join(data, "uploads")))
        console.get("/gateway/")
        for page, path, field, folder in pages:
            growth, _, same = large_uploads(console, page + "-probe", path,
                                            field, folder, probe,
                                            probe_want, 1)
            if not same:
                print(f"{page} page: the probe upload was not stored whole; "
                      "skipped", flush=True)
                continue
            if growth > PROBE_MIB / 2:
                print(f"{page} page: a {PROBE_MIB} MiB probe grew the "
                      f"console by {growth:.0f} MiB: the page holds the body "
                      "whole; the large case is skipped", flush=True)
                continue
            growth, seconds, same = large_uploads(
                console, page, path, field, folder, source, want,
                LARGE_CLIENTS)
            print(f"{page} page: peak RSS {growth:.1f} MiB above idle "
                  f"(target {LARGE_TARGET_MIB} MiB: "
                  f"{verdict(growth <= LARGE_TARGET_MIB)}), "
                  f"{sent / seconds:.0f} MiB/s in all, every file "
                  f"byte-identical: {verdict(same)}", flush=True)


def main():
    with open("/proc/cpuinfo") as info:
        model = next((line.split(":", 1)[1].strip() for line in info
                      if line.startswith("model name")), "unknown")
    print(f"CPU: {model}, {os.cpu_count()} cores; {REQUESTS} requests a case")
    part = os.environ.get("SERVE_BENCH_PART")
    if part is None:
        python_cases()
    scratch = tempfile.mkdtemp(prefix="corvane-serve-bench-")
    try:
        if part in (None, "ab"):
            ab_cases(scratch)
        if part in (None, "large"):
            large_cases(scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def python_cases():
    """The Whois page and 64 KiB uploads from Python clients, beside the CGI
    way."""
    scratch = tempfile.mkdtemp(prefix="corvane-serve-bench-")
    rates = {}
    try:
        # Without log-in: the requests are built whole, without a session.
        with WhoisServer(DOMAIN_REPLY) as whois, \
                Console(os.path.join(scratch, "var"), "--threads", "16",
                        "--no-auth", whois=whois.address) as console:
            for clients in CLIENTS:
                report("console whois page", clients,
                       measure(console.port, clients,
                               whois_request(console.origin)))
            for clients in CLIENTS:
                rates[("console", clients)] = report(
                    "console 64 KiB upload", clients,
                    measure(console.port, clients,
                            upload_request(console.origin, "/upload")))
        cgi_dir = os.path.join(scratch, "cgi")
        with LighttpdServer({"upload.cgi": [program("corvane"), "upload",
                                            "--dir", cgi_dir, "--ext", "*"]}
                            ) as server:
            for clients in CLIENTS:
                rates[("cgi", clients)] = report(
                    "CGI 64 KiB upload", clients,
                    measure(server.port, clients,
                            upload_request("", "/upload.cgi")))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    ratio = rates[("console", 16)] / rates[("cgi", 16)]
    print(f"uploads at 16 clients: console / CGI = {ratio:.1f}x "
          f"(target {TARGET}x: {verdict(ratio >= TARGET)})", flush=True)


if __name__ == "__main__":
    main()
