#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Requests per second and latency percentiles (p50, p99) of `corvane
serve` for the Whois page (against the loopback whois server) and for
64 KiB uploads, with 1, 4 and 16 concurrent clients, beside the same upload
handled by `corvane upload` as a CGI program behind lighttpd (a process per
request), in the same run. Target: the console's uploads per second at 16
clients at least 5 times the CGI way's.

Environment: CORVANE_BIN (the build's bin folder); SERVE_BENCH_REQUESTS
(requests per case, 600 by default)."""

import http.client
import os
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "tests"))

from support.console import Console, multipart  # noqa: E402
from support.programs import program  # noqa: E402
from support.webserver import LighttpdServer  # noqa: E402
from support.whois_fixtures import DOMAIN_REPLY  # noqa: E402
from support.whois_server import WhoisServer  # noqa: E402

REQUESTS = int(os.environ.get("SERVE_BENCH_REQUESTS", "600"))
CLIENTS = (1, 4, 16)
UPLOAD = os.urandom(64 * 1024)
TARGET = 5


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


def main():
    with open("/proc/cpuinfo") as info:
        model = next((line.split(":", 1)[1].strip() for line in info
                      if line.startswith("model name")), "unknown")
    print(f"CPU: {model}, {os.cpu_count()} cores; {REQUESTS} requests a case")
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
    verdict = "met" if ratio >= TARGET else "NOT met"
    print(f"uploads at 16 clients: console / CGI = {ratio:.1f}x "
          f"(target {TARGET}x: {verdict})")


if __name__ == "__main__":
    main()
