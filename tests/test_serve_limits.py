# SPDX-License-Identifier: Apache-2.0
"""The console against clients that send too much or too slowly, and
against mail and whois servers that do not answer: a request head is
refused while it grows past its bounds, slow and idle clients hold no
worker, and a page is still answered while the workers of the posts that
wait on other servers are all busy. Every wait here is bounded, so that a
regression fails instead of hanging."""

import os
import shutil
import socket
import tempfile
import threading
import time
import unittest

from support.console import Console
from support.whois_server import WhoisServer

SMALL_QUARANTINE = {"ASAN_OPTIONS": ":".join(
    filter(None, [os.environ.get("ASAN_OPTIONS"), "quarantine_size_mb=4"]))}


class ConsoleLimits(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="corvane-limits-")
        self.addCleanup(shutil.rmtree, self.scratch, True)

    def console(self, *options, **named):
        console = Console(os.path.join(self.scratch, "var"), "--threads", "2",
                          *options, environment=SMALL_QUARANTINE, **named)
        console.__enter__()
        self.addCleanup(console.__exit__, None, None, None)
        return console

    def connect(self, console, timeout=30):
        s = socket.create_connection(("127.0.0.1", console.port),
                                     timeout=timeout)
        self.addCleanup(s.close)
        return s

    @staticmethod
    def status_of(s):
        line = s.makefile("rb").readline()
        return int(line.split()[1]) if line else None

    def timed_get(self, console, path="/", limit=10):
        """(status, seconds) of a GET answered within `limit` seconds."""
        started = time.monotonic()
        s = self.connect(console, timeout=limit)
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{console.port}\r\n"
                  f"Cookie: {console.cookie}\r\n"
                  "Connection: close\r\n\r\n".encode())
        try:
            status = self.status_of(s)
        except socket.timeout:
            status = None
        return status, time.monotonic() - started

    def test_a_head_past_its_bounds_is_refused_while_it_arrives(self):
        console = self.console()
        _, memory_before = console.status()
        host = f"Host: 127.0.0.1:{console.port}\r\n"
        cases = [
            ("endless header fields", b"GET / HTTP/1.1\r\n" + host.encode(),
             b"X-Filler: " + b"f" * 50 + b"\r\n", 431),
            ("one endless header line",
             b"GET / HTTP/1.1\r\n" + host.encode() + b"X-Long: ",
             b"l" * 4096, 431),
            ("an endless request line", b"GET /", b"p" * 4096, 414),
        ]
        for what, start, repeated, expected in cases:
            with self.subTest(what):
                s = self.connect(console)
                s.sendall(start)
                sent = 0
                try:
                    # 64 MiB at most; the console stops reading long before.
                    block = repeated * (65536 // len(repeated))
                    while sent < 64 * 1024 * 1024:
                        s.sendall(block)
                        sent += len(block)
                except OSError:
                    pass
                self.assertLess(sent, 64 * 1024 * 1024,
                                "the console read the whole head")
                self.assertEqual(self.status_of(s), expected)
        _, memory_after = console.status()
        self.assertLess(memory_after - memory_before, 8 * 1024)
        self.assertIn("(request head) 431",
                      console.logged(r"\(request head\) 431"))

    def test_slow_and_idle_clients_hold_no_worker(self):
        console = self.console()
        stop = threading.Event()
        slow = []
        for n in range(8):
            s = self.connect(console)
            s.sendall(f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{console.port}\r\n"
                      .encode())
            slow.append(s)
            slow.append(self.connect(console))  # idle: sends nothing

        def trickle():
            while not stop.wait(1):
                for s in slow[::2]:
                    try:
                        s.sendall(b"X-Slow: 1\r\n")
                    except OSError:
                        pass

        trickler = threading.Thread(target=trickle)
        trickler.start()
        try:
            for _ in range(3):
                status, seconds = self.timed_get(console)
                self.assertEqual(status, 200)
                self.assertLess(seconds, 5)
                time.sleep(1)
            # A head that does not arrive in time is refused.
            started = time.monotonic()
            statuses = [self.status_of(s) for s in slow[::2]]
            self.assertEqual(statuses, [408] * 8)
            self.assertLess(time.monotonic() - started, 20)
        finally:
            stop.set()
            trickler.join()

    def test_a_kept_alive_connection_keeps_the_bounds_and_its_turn(self):
        console = self.console()
        get = (f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{console.port}\r\n"
               f"Cookie: {console.cookie}\r\n\r\n").encode()

        def answers(s, count):
            stream = s.makefile("rb")
            statuses = []
            for _ in range(count):
                status = int(stream.readline().split()[1])
                length = 0
                while (line := stream.readline()) not in (b"\r\n", b""):
                    name, _, value = line.partition(b":")
                    if name.lower() == b"content-length":
                        length = int(value)
                stream.read(length)
                statuses.append(status)
            return statuses

        with self.subTest("requests sent together are answered in order"):
            s = self.connect(console)
            s.sendall(get * 3)
            self.assertEqual(answers(s, 3), [200] * 3)
        with self.subTest("an interim answer goes out before the body"):
            # Answers are gathered and sent whole; "100 Continue" must
            # still leave before the console waits for the body.
            s = self.connect(console, timeout=5)
            s.sendall(f"POST /whois HTTP/1.1\r\nHost: 127.0.0.1:"
                      f"{console.port}\r\nCookie: {console.cookie}\r\n"
                      "Content-Type: application/x-www-form-urlencoded\r\n"
                      "Content-Length: 9\r\nExpect: 100-continue\r\n\r\n"
                      .encode())
            stream = s.makefile("rb")
            self.assertEqual(stream.readline(), b"HTTP/1.1 100 Continue\r\n")
            self.assertEqual(stream.readline(), b"\r\n")
            s.sendall(b"domain=ab")
            self.assertTrue(stream.readline().startswith(b"HTTP/1.1 "))
        with self.subTest("a next head past its bounds is refused"):
            s = self.connect(console)
            s.sendall(get)
            self.assertEqual(answers(s, 1), [200])
            s.sendall(b"GET / HTTP/1.1\r\n" + b"X-Filler: f\r\n" * 200)
            self.assertEqual(answers(s, 1), [431])
        with self.subTest("a busy connection does not keep the workers"):
            stop = threading.Event()
            served = []

            def busy():
                s = self.connect(console)
                while not stop.is_set():
                    s.sendall(get)
                    served.extend(answers(s, 1))

            busy_clients = [threading.Thread(target=busy) for _ in range(4)]
            for client in busy_clients:
                client.start()
            try:
                for _ in range(5):
                    status, seconds = self.timed_get(console)
                    self.assertEqual(status, 200)
                    self.assertLess(seconds, 2)
            finally:
                stop.set()
                for client in busy_clients:
                    client.join()
            self.assertTrue(served)
            self.assertEqual(set(served), {200})

    def test_posts_that_wait_on_a_silent_server_leave_the_pages_served(self):
        silent = WhoisServer(mode="silent")
        self.addCleanup(silent.stop)
        console = self.console(whois=silent.address)
        answers = []

        def look_up():
            answers.append(console.post("/whois", {"query": "widget.zz"})[0])

        lookups = [threading.Thread(target=look_up) for _ in range(4)]
        for lookup in lookups:
            lookup.start()
        # The server takes one query and keeps silent; the other lookups
        # wait in its queue of connections.
        deadline = time.monotonic() + 10
        while not silent.queries and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(silent.queries)
        time.sleep(0.5)
        for path in ("/", "/upload", "/files"):
            status, seconds = self.timed_get(console, path)
            self.assertEqual(status, 200, path)
            self.assertLess(seconds, 5, path)
        silent.stop()  # the lookups end with a failure page
        for lookup in lookups:
            lookup.join(timeout=120)
        self.assertEqual(answers, [200] * 4)


if __name__ == "__main__":
    unittest.main()
