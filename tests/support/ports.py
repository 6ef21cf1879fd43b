# SPDX-License-Identifier: Apache-2.0
"""Loopback ports for the test peers."""

import socket


def free_port():
    """A loopback port on which nothing listens now (a refused connection,
    or a port for a server about to start)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]
