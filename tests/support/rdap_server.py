# SPDX-License-Identifier: Apache-2.0
"""A scripted RDAP server on loopback for tests: it answers each path from
a table (status, JSON body, extra headers, a delay, or an endless stream)
and records the path and Accept header of every request; a route with an
ETag answers 304 to a request that names it in If-None-Match."""

import http.server
import json
import threading

NOT_FOUND = {"errorCode": 404, "title": "Not Found",
             "description": ["The domain is not registered here."]}


class Route:
    """One path's answer. `body` is a dict (sent as JSON) or bytes;
    `length` False sends no Content-Length and closes after the body;
    `delay` holds the answer back until that many seconds pass or the
    server stops; `stream` sends bytes until the client goes away;
    `etag` is sent as the ETag header and answers a matching
    If-None-Match with 304 and no body."""

    def __init__(self, status=200, body=b"", headers=(), length=True,
                 delay=None, stream=False, etag=None):
        self.status = status
        self.body = (json.dumps(body).encode()
                     if isinstance(body, (dict, list)) else body)
        self.headers = list(headers)
        self.length = length
        self.delay = delay
        self.stream = stream
        self.etag = etag


class RdapServer:
    """Plain http, or https with `tls_context` (an ssl.SSLContext)."""

    def __init__(self, routes=None, tls_context=None):
        self.routes = dict(routes or {})
        self.requests = []
        self.conditions = []  # If-None-Match of each request, or None
        self.streamed = 0
        self._stop = threading.Event()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                owner._answer(self)

            def log_message(self, *args):
                pass

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                                      Handler)
        self._httpd.daemon_threads = True
        if tls_context:
            self._httpd.socket = tls_context.wrap_socket(
                self._httpd.socket, server_side=True)
        self.port = self._httpd.server_address[1]
        self.base = "%s://127.0.0.1:%d/" % ("https" if tls_context else
                                            "http", self.port)
        self._thread = threading.Thread(target=self._httpd.serve_forever,
                                        daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        self._stop.set()
        self._httpd.shutdown()
        self._httpd.server_close()

    def _answer(self, handler):
        self.requests.append((handler.path, handler.headers.get("Accept")))
        self.conditions.append(handler.headers.get("If-None-Match"))
        route = self.routes.get(handler.path) or Route(404, NOT_FOUND)
        if route.etag and handler.headers.get("If-None-Match") == route.etag:
            route = Route(304, b"", route.headers + [("ETag", route.etag)])
        elif route.etag:
            route = Route(route.status, route.body,
                          route.headers + [("ETag", route.etag)])
        if route.delay:
            self._stop.wait(route.delay)
        try:
            handler.send_response(route.status)
            handler.send_header("Content-Type", "application/rdap+json")
            for name, value in route.headers:
                handler.send_header(name, value)
            if route.length and not route.stream:
                handler.send_header("Content-Length", str(len(route.body)))
            else:
                handler.send_header("Connection", "close")
                handler.close_connection = True
            handler.end_headers()
            if route.stream:
                block = b" " * 65536
                while not self._stop.is_set():
                    handler.wfile.write(block)
                    self.streamed += len(block)
            else:
                handler.wfile.write(route.body)
        except OSError:
            pass
