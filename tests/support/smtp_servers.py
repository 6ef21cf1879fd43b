# SPDX-License-Identifier: Apache-2.0
"""SMTP peers on loopback for the mail component's tests: a scripted server
that records every byte and answers from a script, and Debian's aiosmtpd as
the real server, storing every message it accepts."""

import socket
import threading
import time

from support.ports import listening_socket

# Actions a script may give instead of a reply.
CLOSE = object()   # close the connection without answering
SILENT = object()  # never answer (the connection stays open)

DEFAULT_REPLIES = {
    "GREETING": b"220 scripted.test ready\r\n",
    "HELO": b"250 scripted.test\r\n",
    "EHLO": b"250-scripted.test\r\n250-STARTTLS\r\n250-AUTH PLAIN LOGIN\r\n"
            b"250 8BITMIME\r\n",
    "STARTTLS": b"220 go ahead\r\n",
    "AUTH": b"235 accepted\r\n",
    "LINE": b"235 accepted\r\n",
    "MAIL": b"250 sender ok\r\n",
    "RCPT": b"250 recipient ok\r\n",
    "DATA": b"354 end with <CRLF>.<CRLF>\r\n",
    "DOT": b"250 queued\r\n",
    "QUIT": b"221 bye\r\n",
    "RSET": b"250 reset\r\n",
}



class ScriptedSmtpServer:
    """Serves one connection at a time. `script(event, count)` may answer an
    event ("GREETING", "HELO", "MAIL", "RCPT", "DATA", "DOT" for the end of
    the message, "QUIT") with bytes, a list of byte pieces sent apart (a
    CLOSE among them closes there), CLOSE or SILENT; None keeps the default
    reply. `count` numbers the events of
    one kind from 1 within a connection."""

    def __init__(self, script=None, tls_context=None, implicit_tls=False):
        """With `tls_context`, a STARTTLS answered with 220 is followed by
        the server's side of the handshake; `received` then goes on with
        the decrypted bytes (with `implicit_tls`, from the first byte). A
        line that is no command (an AUTH LOGIN
        answer) is the event "LINE"."""
        self.script = script or (lambda event, count: None)
        self.tls_context = tls_context
        self.implicit_tls = implicit_tls
        self.received = b""
        self.messages = []
        self.connections = 0
        self._listener = socket.socket()
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(5)
        self._listener.settimeout(0.2)
        self.port = self._listener.getsockname()[1]
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._listener.close()
        self._thread.join(timeout=10)

    def _serve(self):
        while not self._stop.is_set():
            try:
                connection, _ = self._listener.accept()
            except (socket.timeout, OSError):
                continue
            self.connections += 1
            with connection:
                try:
                    if self.implicit_tls:
                        connection = self.tls_context.wrap_socket(
                            connection, server_side=True)
                    self._converse(connection)
                except OSError:
                    pass

    def _answer(self, connection, event, counts):
        counts[event] = counts.get(event, 0) + 1
        reply = self.script(event, counts[event])
        if reply is None:
            reply = DEFAULT_REPLIES[event]
        if reply is CLOSE:
            return False
        if reply is SILENT:
            while not self._stop.is_set():
                time.sleep(0.05)
            return False
        pieces = reply if isinstance(reply, list) else [reply]
        for index, piece in enumerate(pieces):
            if piece is CLOSE:
                return False
            if index:
                time.sleep(0.1)
            connection.sendall(piece)
        return not (event == "QUIT")

    def _converse(self, connection):
        connection.settimeout(30)
        counts = {}
        if not self._answer(connection, "GREETING", counts):
            return
        pending = b""
        in_data = False
        while not self._stop.is_set():
            chunk = connection.recv(65536)
            if not chunk:
                return
            self.received += chunk
            pending += chunk
            while True:
                if in_data:
                    end = pending.find(b"\r\n.\r\n")
                    if end < 0:
                        break
                    self.messages.append(pending[:end + 2])
                    pending = pending[end + 5:]
                    in_data = False
                    event = "DOT"
                else:
                    end = pending.find(b"\r\n")
                    if end < 0:
                        break
                    line, pending = pending[:end], pending[end + 2:]
                    event = line.split(b" ", 1)[0].split(b":", 1)[0]
                    event = event.decode("latin-1").upper()
                    if event not in DEFAULT_REPLIES:
                        if counts.get("AUTH"):
                            event = "LINE"
                        else:
                            connection.sendall(b"500 unknown command\r\n")
                            continue
                    if event == "DATA":
                        in_data = True
                if not self._answer(connection, event, counts):
                    if event == "DATA":
                        in_data = False
                    return
                if event == "STARTTLS" and self.tls_context:
                    connection = self.tls_context.wrap_socket(
                        connection, server_side=True)


def _HeldSocketController(listener, handler, **options):
    """aiosmtpd's Controller serving on a socket that already listens (on
    a port the system chose), instead of binding a port of its own."""
    from aiosmtpd.controller import Controller

    class HeldSocketController(Controller):
        def _create_server(self):
            return self.loop.create_server(self._factory_invoker,
                                           sock=listener,
                                           ssl=self.ssl_context)

    return HeldSocketController(handler, **options)


class RealSmtpServer:
    """aiosmtpd on a loopback port, keeping every accepted envelope. With a
    `tls_context` it offers STARTTLS (or, with `implicit_tls`, speaks TLS
    from the first byte); with `logins` (user: password) it requires AUTH,
    offering the mechanisms not in `exclude_auth`."""

    def __init__(self, tls_context=None, implicit_tls=False, logins=None,
                 exclude_auth=(), require_starttls=False, smtputf8=False,
                 tokens=None, hide_smtputf8=False):
        """With `smtputf8` it takes SMTPUTF8 (which aiosmtpd offers in any
        case; `hide_smtputf8` leaves it out of the EHLO reply); with
        `tokens` (user: bearer token) it takes XOAUTH2 and OAUTHBEARER
        logins as well."""

        self.hide_smtputf8 = hide_smtputf8
        self.envelopes = []
        self.peers = []
        self.tokens = tokens or {}
        self.logins_seen = []
        options = {}
        if tls_context and implicit_tls:
            options["ssl_context"] = tls_context
        elif tls_context:
            options["tls_context"] = tls_context
            options["require_starttls"] = require_starttls
        if smtputf8:
            options["enable_SMTPUTF8"] = True
        if tokens is not None and logins is None:
            logins = {}
        if logins is not None:
            self._logins = logins
            options.update(auth_required=True, auth_require_tls=False,
                           authenticator=self._authenticate,
                           auth_exclude_mechanism=list(exclude_auth))
        self._listener = listening_socket()
        self.port = self._listener.getsockname()[1]
        self._controller = _HeldSocketController(
            self._listener, self, hostname="127.0.0.1", port=self.port,
            server_hostname="real.test", **options)

    def _authenticate(self, server, session, envelope, mechanism, data):
        from aiosmtpd.smtp import AuthResult

        user = data.login.decode()
        self.logins_seen.append((mechanism, user))
        ok = self._logins.get(user) == data.password.decode()
        return AuthResult(success=ok, handled=False)

    async def auth_XOAUTH2(self, server, args):
        return await self._bearer_login(server, args)

    async def auth_OAUTHBEARER(self, server, args):
        return await self._bearer_login(server, args)

    async def _bearer_login(self, server, args):
        """Both bearer mechanisms: the user and token of the client's first
        response; a refusal is a 334 challenge with the error, whose answer
        is kept, then 535."""
        import base64
        from aiosmtpd.smtp import AuthResult
        if len(args) < 2:
            return AuthResult(success=False, handled=False)
        response = base64.b64decode(args[1]).decode()
        fields = dict(item.split("=", 1) for item in response.split("\x01")
                      if "=" in item)
        if response.startswith("n,a="):
            user = response[4:response.index(",", 4)]
        else:
            user = fields.get("user", "")
        token = fields.get("auth", "")[len("Bearer "):]
        self.logins_seen.append((args[0], user))
        if self.tokens.get(user) == token:
            return AuthResult(success=True)
        answer = await server.challenge_auth(
            b'{"status":"401","schemes":"bearer"}')
        self.logins_seen.append(("answer", answer))
        return AuthResult(success=False, handled=False)

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port

    async def handle_EHLO(self, server, session, envelope, hostname,
                          responses):
        session.host_name = hostname
        if self.hide_smtputf8:
            responses = [line for line in responses if "SMTPUTF8" not in line]
        return responses

    async def handle_DATA(self, server, session, envelope):
        self.envelopes.append(envelope)
        self.peers.append(session.peer)
        return "250 Message accepted for delivery"

    def __enter__(self):
        self._controller.start()
        return self

    def __exit__(self, *exc):
        self._controller.stop()
        self._listener.close()
