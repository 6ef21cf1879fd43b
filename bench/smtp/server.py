"""A local aiosmtpd server for the benchmark: prints its port, counts the
messages it accepts, and stops when its standard input closes."""

import socket
import sys

from aiosmtpd.controller import Controller


class Counter:
    messages = 0

    async def handle_DATA(self, server, session, envelope):
        Counter.messages += 1
        return "250 OK"


def main():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    # A fixed server name spares a name look-up per connection, which would
    # otherwise weigh on every client alike and hide their differences.
    controller = Controller(Counter(), hostname="127.0.0.1", port=port,
                            server_hostname="bench.localhost")
    controller.start()
    print(port, flush=True)
    sys.stdin.read()
    controller.stop()
    print("server accepted %d messages" % Counter.messages, file=sys.stderr)


if __name__ == "__main__":
    main()
