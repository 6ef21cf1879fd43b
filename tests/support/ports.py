# SPDX-License-Identifier: Apache-2.0
"""Loopback ports for the test peers.

A peer that the test writes binds port 0 and reports the port the system
gave it (`listening_socket`). A port where a connection must be refused is
held bound without listening (`ClosedPort`), so no other program can take
it meanwhile. Only programs that must be told a port in their settings
(lighttpd, Apache, Postfix) get one from `free_port`, and their start is
tried again on another port when that one was taken in between
(`start_on_a_free_port`)."""

import socket


def listening_socket(backlog=64):
    """A socket listening on a loopback port the system chose."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(backlog)
    return listener


class ClosedPort:
    """A loopback port, bound without listening while the object lives:
    every connection to `address` is refused."""

    def __init__(self):
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._socket.bind(("127.0.0.1", 0))
        self.port = self._socket.getsockname()[1]
        self.address = "127.0.0.1:%d" % self.port

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._socket.close()


def free_port():
    """A loopback port on which nothing listens now, for a server about to
    start that must be given its port."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_on_a_free_port(start, tries=5):
    """Calls start(port) with a free port, again with another one when it
    raises PortTaken (the port was taken between the choice and the bind);
    returns what start returned."""
    for attempt in range(tries):
        try:
            return start(free_port())
        except PortTaken:
            if attempt == tries - 1:
                raise


class PortTaken(RuntimeError):
    """A server could not bind the port it was given."""
