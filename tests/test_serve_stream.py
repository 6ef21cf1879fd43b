# SPDX-License-Identifier: Apache-2.0
"""The console takes large uploads as they arrive: four clients send 64 MiB
each at once to the Gateway page, whose program gets the body through a
pipe while it comes; the console's resident memory stays far below what
was sent and every file is stored byte for byte. A streamed form is
refused before anything is stored when its first part is not the
session's form token, and a connection goes on after a streamed upload."""

import hashlib
import http.client
import os
import shutil
import socket
import tempfile
import threading
import time
import unittest
import uuid

from support.console import Console, FORM_TOKEN, multipart

CLIENTS = 4
FILE_BYTES = 64 << 20
CHUNK = 1 << 20
# The console's growth allowed while the uploads run: an eighth of the
# 256 MiB sent, and half of one body.
MOST_GROWTH_KIB = 32 << 10


class StreamedUploads(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="corvane-stream-")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.data = os.path.join(self.scratch, "var")
        self.console = Console(self.data, "--threads", str(CLIENTS)).__enter__()
        self.addCleanup(self.console.__exit__, None, None, None)

    def send(self, path, name, size, token_first=True):
        """Posts a file of `size` bytes (random chunks made as it is sent)
        over a socket of its own; (status line, the rest of the answer,
        SHA-256 of the file)."""
        boundary = "----stream" + uuid.uuid4().hex
        token = (f'--{boundary}\r\nContent-Disposition: form-data; '
                 f'name="{FORM_TOKEN}"\r\n\r\n{self.console.form_token}\r\n'
                 ).encode()
        file_head = (f'--{boundary}\r\nContent-Disposition: form-data; '
                     f'name="upload1"; filename="{name}"\r\nContent-Type: '
                     'application/octet-stream\r\n\r\n').encode()
        tail = f"\r\n--{boundary}--\r\n".encode()
        first, last = (token, b"") if token_first else (b"", token)
        length = len(first) + len(file_head) + size + len(tail) + len(last)
        origin = self.console.origin
        head = (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{self.console.port}"
                f"\r\nOrigin: {origin}\r\nReferer: {origin}/gateway/\r\n"
                f"Cookie: {self.console.cookie}; WharfpostToWhere=console\r\n"
                "Content-Type: multipart/form-data; boundary="
                f"{boundary}\r\nContent-Length: {length}\r\n"
                "Connection: close\r\n\r\n").encode()
        digest = hashlib.sha256()
        with socket.create_connection(("127.0.0.1", self.console.port),
                                      timeout=120) as s:
            s.sendall(head + first + file_head)
            sent = 0
            try:
                while sent < size:
                    chunk = os.urandom(min(CHUNK, size - sent))
                    digest.update(chunk)
                    s.sendall(chunk)
                    sent += len(chunk)
                s.sendall(tail + last)
            except (BrokenPipeError, ConnectionResetError):
                pass  # refused: the answer is there to read
            answer = s.makefile("rb").read().decode(errors="replace")
        status_line, _, rest = answer.partition("\r\n")
        return status_line, rest, digest.hexdigest()

    def stored_digest(self, *path):
        digest = hashlib.sha256()
        with open(os.path.join(self.data, *path), "rb") as stored:
            for chunk in iter(lambda: stored.read(CHUNK), b""):
                digest.update(chunk)
        return digest.hexdigest()

    def test_concurrent_large_uploads_keep_memory_flat(self):
        # A first upload sets up what every upload uses once.
        self.console.get("/gateway/")
        status, _, _ = self.send("/gateway/wharfpost", "warm.bin", CHUNK)
        self.assertIn(" 302 ", status)
        idle = self.console.status()[1]
        samples = []
        done = threading.Event()

        def sample():
            while not done.is_set():
                samples.append(self.console.status()[1])
                time.sleep(0.01)

        results = [None] * CLIENTS

        def client(n):
            results[n] = self.send("/gateway/wharfpost", f"big{n}.bin",
                                   FILE_BYTES)

        threads = [threading.Thread(target=client, args=(n,))
                   for n in range(CLIENTS)]
        sampler = threading.Thread(target=sample)
        sampler.start()
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        done.set()
        sampler.join()
        for n, (status, answer, digest) in enumerate(results):
            self.assertIn(" 302 ", status, answer)
            self.assertIn("ErrorCode=1", answer)
            self.assertEqual(
                self.stored_digest("gateway", "console", f"big{n}.bin"),
                digest)
        growth = max(samples) - idle
        self.assertLess(growth, MOST_GROWTH_KIB,
                        f"RSS grew by {growth} KiB while "
                        f"{CLIENTS * FILE_BYTES >> 20} MiB were sent")

    def test_a_streamed_form_without_the_token_first_stores_nothing(self):
        self.console.get("/gateway/")
        for path in ("/gateway/wharfpost", "/upload"):
            with self.subTest(path=path):
                status, page, _ = self.send(path, "late.bin", 4 * CHUNK,
                                            token_first=False)
                self.assertIn(" 403 ", status)
                self.assertIn("form token", page)
        self.assertFalse(os.path.exists(
            os.path.join(self.data, "gateway", "console", "late.bin")))
        self.assertFalse(os.path.exists(
            os.path.join(self.data, "uploads", "late.bin")))
        # With the token first, the same form is stored.
        status, _, digest = self.send("/upload", "late.bin", 4 * CHUNK)
        self.assertIn(" 200 ", status)
        self.assertEqual(self.stored_digest("uploads", "late.bin"), digest)

    def test_a_connection_carries_another_request_after_a_streamed_upload(
            self):
        body, content_type = multipart(
            [("title", "t")], [("file", "kept.bin", os.urandom(3 * CHUNK))])
        body, headers = self.console.with_session(
            "POST", body, {"Content-Type": content_type,
                           "Origin": self.console.origin})
        connection = http.client.HTTPConnection("127.0.0.1", self.console.port,
                                                timeout=60)
        self.addCleanup(connection.close)
        connection.request("POST", "/upload", body=body, headers=headers)
        response = connection.getresponse()
        page = response.read().decode()
        self.assertEqual(response.status, 200)
        self.assertIn("1 file stored in uploads/: kept.bin.", page)
        self.assertNotEqual(response.getheader("Connection"), "close")
        connection.request("GET", "/upload",
                           headers={"Cookie": self.console.cookie})
        self.assertEqual(connection.getresponse().status, 200)


if __name__ == "__main__":
    unittest.main()
