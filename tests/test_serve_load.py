# SPDX-License-Identifier: Apache-2.0
"""The console under load: 16 clients make 2,000 requests in all (uploads
of 4 KiB to 1 MiB, listings, whois lookups against the loopback server);
every request is answered, every file arrives byte-identical, the server
holds no more descriptors and little more memory afterwards, and a stop
lets the requests in flight finish."""

import hashlib
import os
import random
import re
import shutil
import socket
import tempfile
import threading
import time
import unittest

from support.console import Console, multipart
from support.whois_fixtures import DOMAIN_REPLY
from support.whois_server import WhoisServer

CLIENTS = 16
REQUESTS = 2000
# Growth allowed over the measured round, in KiB. A body kept per request
# would be hundreds of MiB; the sanitizers' allocators hold per-thread caches
# and shadow pages of their own (and the address sanitizer checks leaks at exit).
MEMORY_GROWTH_KIB = (128 if os.environ.get("CORVANE_SANITIZED") else 32) * 1024

# The address sanitizer keeps freed memory in a quarantine (256 MiB by
# default), which would pass for growth; a small one keeps the comparison
# meaningful in the sanitized build and changes nothing in the plain one.
SMALL_QUARANTINE = {"ASAN_OPTIONS": ":".join(
    filter(None, [os.environ.get("ASAN_OPTIONS"), "quarantine_size_mb=4"]))}


class ConsoleUnderLoad(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="corvane-load-")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.data = os.path.join(self.scratch, "var")
        self.whois = WhoisServer(DOMAIN_REPLY)
        self.addCleanup(self.whois.stop)

    def stored(self, name):
        with open(os.path.join(self.data, "uploads", name), "rb") as data:
            return data.read()

    def one_request(self, console, number, sent, failures):
        kind = number % 4
        if kind in (0, 1):
            size = random.Random(number).randint(4 * 1024, 1024 * 1024)
            data = random.Random(-number).randbytes(size)
            name = f"load-{number}.bin"
            status, page = console.post(
                "/upload", {"n": str(number)}, [("file1", name, data)])
            expected = f"<td>{name}</td><td>file1</td><td>{size}</td>"
            sent[name] = hashlib.sha256(data).hexdigest()
        elif kind == 2:
            status, page = console.get("/mail")
            expected = 'name="attach"'
        else:
            status, page = console.post("/whois", {"query": "widget.zz"})
            expected = "<th>Domain name</th><td>WIDGET.ZZ</td>"
        if status != 200 or expected not in page or 'id="error"' in page:
            failures.append((number, status, page[-400:]))

    def run_clients(self, console, numbers):
        sent, failures = {}, []
        work = iter(numbers)
        lock = threading.Lock()

        def client():
            while True:
                with lock:
                    number = next(work, None)
                if number is None:
                    return
                try:
                    self.one_request(console, number, sent, failures)
                except OSError as error:
                    failures.append((number, "no answer", repr(error)))

        threads = [threading.Thread(target=client) for _ in range(CLIENTS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        return sent, failures

    def test_two_thousand_requests_from_sixteen_clients(self):
        with Console(self.data, "--threads", "8", whois=self.whois.address,
                     environment=SMALL_QUARANTINE) as console:
            idle_descriptors = self.quiet_descriptors(console)
            # A first round warms the pools, arenas and loaded libraries.
            self.run_clients(console, range(-64, 0))
            descriptors_before, memory_before = self.settled_status(
                console, idle_descriptors)
            sent, failures = self.run_clients(console, range(REQUESTS))
            descriptors_after, memory_after = self.settled_status(
                console, idle_descriptors)
            self.assertEqual(console.stop(), 0)
            log = console.server_log()
            self.assertEqual(failures, [], [
                line for line in log.splitlines() if " 200 " not in line])
        self.assertEqual(len(sent), REQUESTS // 2)
        for name, digest in sent.items():
            self.assertEqual(hashlib.sha256(self.stored(name)).hexdigest(),
                             digest, name)
        self.assertEqual(descriptors_before, idle_descriptors)
        self.assertEqual(descriptors_after, idle_descriptors)
        self.assertLess(memory_after - memory_before, MEMORY_GROWTH_KIB,
                        (memory_before, memory_after))
        self.assertIn("corvane serve: stopped", log)
        self.assertEqual(len(re.findall(r"^(GET|POST) /\w+ 200 ", log, re.M)),
                         REQUESTS + 64)

    @staticmethod
    def quiet_descriptors(console):
        """The server's open descriptors once the log-in's connection has
        gone: the count no longer changes for half a second."""
        deadline = time.monotonic() + 10
        count, since = console.status()[0], time.monotonic()
        while time.monotonic() - since < 0.5 and time.monotonic() < deadline:
            time.sleep(0.05)
            now = console.status()[0]
            if now != count:
                count, since = now, time.monotonic()
        return count

    @staticmethod
    def settled_status(console, descriptors):
        """The server's status once the workers have seen the last clients
        go (a closed connection is noticed a moment after the answer)."""
        deadline = time.monotonic() + 10
        status = console.status()
        while status[0] != descriptors and time.monotonic() < deadline:
            time.sleep(0.05)
            status = console.status()
        return status

    def test_a_stop_lets_the_requests_in_flight_finish(self):
        """Each client waits for the server's "100 Continue", so the server
        is reading its request when the stop comes; the body follows."""
        with Console(self.data, "--threads", "4",
                     whois=self.whois.address) as console:
            bodies = {f"flight-{n}.bin": os.urandom(300 * 1024)
                      for n in range(4)}
            sockets = [self.start_upload(console, name, data)
                       for name, data in bodies.items()]
            stop = threading.Thread(target=console.stop)
            stop.start()
            statuses = [self.finish_upload(*pending) for pending in sockets]
            stop.join()
            self.assertEqual(console.process.returncode, 0)
        self.assertEqual(statuses, [200] * len(bodies))
        for name, data in bodies.items():
            self.assertEqual(self.stored(name), data)

    def start_upload(self, console, name, data):
        body, content_type = multipart([], [("file1", name, data)])
        body, headers = console.with_session(
            "POST", body, {"Content-Type": content_type})
        s = socket.create_connection(("127.0.0.1", console.port), timeout=60)
        s.sendall((f"POST /upload HTTP/1.1\r\nHost: 127.0.0.1:{console.port}"
                   f"\r\nCookie: {headers.get('Cookie', '')}"
                   f"\r\nOrigin: {console.origin}\r\nContent-Type: "
                   f"{content_type}\r\nContent-Length: {len(body)}\r\n"
                   "Expect: 100-continue\r\nConnection: close\r\n\r\n"
                   ).encode())
        answer = s.makefile("rb")
        self.assertIn(b" 100 ", answer.readline())
        answer.readline()  # the blank line after the interim answer
        return s, answer, body

    @staticmethod
    def finish_upload(s, answer, body):
        with s, answer:
            s.sendall(body)
            return int(answer.readline().split()[1])


if __name__ == "__main__":
    unittest.main()
