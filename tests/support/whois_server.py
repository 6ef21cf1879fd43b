# SPDX-License-Identifier: Apache-2.0
"""A scripted whois server on loopback for tests: it records the bytes of
each query and answers as told (a fixture in pieces, silence, a close
without an answer, or an endless stream), then closes the connection."""

import socket
import threading
import time

from support.ports import free_port


class WhoisServer:
    """Serves every connection with the same script until stopped.

    mode "answer": send `answer` in pieces of `piece_size` bytes (all at
    once when None), then close; "close": close without answering;
    "silent": keep the connection open without a byte until stopped;
    "flood": send bytes until the client goes away.
    """

    def __init__(self, answer=b"", mode="answer", piece_size=None):
        self.answer = answer
        self.mode = mode
        self.piece_size = piece_size
        self.queries = []
        self.flooded = 0
        self._stop = threading.Event()
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(64)
        self._listener.settimeout(0.1)
        self.port = self._listener.getsockname()[1]
        self.address = "127.0.0.1:%d" % self.port
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        self._stop.set()
        self._thread.join(timeout=10)
        self._listener.close()

    def _serve(self):
        while not self._stop.is_set():
            try:
                connection, _ = self._listener.accept()
            except socket.timeout:
                continue
            with connection:
                connection.settimeout(5)
                try:
                    self.queries.append(self._read_query(connection))
                    getattr(self, "_" + self.mode)(connection)
                except OSError:
                    pass

    @staticmethod
    def _read_query(connection):
        data = b""
        while b"\r\n" not in data:
            piece = connection.recv(1024)
            if not piece:
                break
            data += piece
        return data

    def _answer(self, connection):
        if not self.piece_size:
            connection.sendall(self.answer)
            return
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for start in range(0, len(self.answer), self.piece_size):
            connection.sendall(self.answer[start:start + self.piece_size])
            time.sleep(0.001)

    def _close(self, connection):
        pass

    def _silent(self, connection):
        self._stop.wait()

    def _flood(self, connection):
        block = b"x" * 65536
        while not self._stop.is_set():
            connection.sendall(block)
            self.flooded += len(block)

