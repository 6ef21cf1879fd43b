# SPDX-License-Identifier: Apache-2.0
"""A local aiosmtpd server for the benchmark: prints its port, counts the
messages it accepts, and stops when its standard input closes. With a
certificate and key as arguments it offers STARTTLS and requires AUTH
(user "bench", password "bench"); with "pipelining" it offers PIPELINING."""

import socket
import ssl
import sys
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

warnings.filterwarnings("ignore", message="Session.login_data")


class Counter:
    messages = 0
    pipelining = False

    async def handle_DATA(self, server, session, envelope):
        Counter.messages += 1
        return "250 OK"

    async def handle_EHLO(self, server, session, envelope, hostname,
                          responses):
        # aiosmtpd reads commands in order from its stream, so it can take
        # pipelined groups; the option says so to the client.
        session.host_name = hostname
        if Counter.pipelining:
            responses.insert(1, "250-PIPELINING")
        return responses


def authenticate(server, session, envelope, mechanism, data):
    return AuthResult(success=data.login == b"bench" and
                      data.password == b"bench")


def main():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    options = {}
    if sys.argv[1:] == ["pipelining"]:
        Counter.pipelining = True
    elif len(sys.argv) == 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[1], sys.argv[2])
        options = dict(tls_context=context, require_starttls=True,
                       auth_required=True, authenticator=authenticate)
    # A fixed server name spares a name look-up per connection, which would
    # otherwise weigh on every client alike and hide their differences.
    controller = Controller(Counter(), hostname="127.0.0.1", port=port,
                            server_hostname="bench.localhost", **options)
    controller.start()
    print(port, flush=True)
    sys.stdin.read()
    controller.stop()
    print("server accepted %d messages" % Counter.messages, file=sys.stderr)


if __name__ == "__main__":
    main()
