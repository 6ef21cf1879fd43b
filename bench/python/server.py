# SPDX-License-Identifier: Apache-2.0
"""One side of the Python upload benchmark: a Flask application behind
wsgiref on a loopback port, storing uploads into FOLDER, either through
Cargane (the example application's upload view) or through
python-multipart (a view that feeds wsgi.input to it in 64 KiB pieces).
Every answer carries the view's CPU seconds (X-Cpu-Seconds). Prints the
port, then serves until killed.
Usage: server.py corvane|multipart FOLDER"""

import os
import sys
import time
from wsgiref.simple_server import WSGIRequestHandler, make_server

from flask import Flask, request

PIECE = 64 * 1024
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                        "..", "examples", "python")


def corvane_app(folder):
    sys.path.insert(0, EXAMPLES)
    import app as example
    return example.create_app(folder, quota=-1, extensions=["bin", "txt"])


def multipart_app(folder):
    import multipart

    app = Flask(__name__)

    @app.post("/upload")
    def upload():
        stored, fields = [], []
        parser = multipart.create_form_parser(
            {"Content-Type": request.environ["CONTENT_TYPE"]},
            fields.append, stored.append,
            # This version joins the folder with the file's name as bytes.
            config={"UPLOAD_DIR": os.fsencode(folder),
                    "UPLOAD_KEEP_FILENAME": True,
                    "UPLOAD_KEEP_EXTENSIONS": True})
        stream = request.environ["wsgi.input"]
        left = int(request.environ.get("CONTENT_LENGTH") or 0)
        while left > 0:
            piece = stream.read(min(PIECE, left))
            if not piece:
                break
            parser.write(piece)
            left -= len(piece)
        parser.finalize()
        for file in stored:
            file.close()
        return f"stored {len(stored)} files", 200

    return app


class Timed:
    """The application, each answer with the CPU seconds it took."""

    def __init__(self, application):
        self.application = application

    def __call__(self, environ, start_response):
        start = time.process_time()

        def timed_start(status, headers, *rest):
            headers.append(("X-Cpu-Seconds",
                            f"{time.process_time() - start:.4f}"))
            return start_response(status, headers, *rest)

        return self.application(environ, timed_start)


class QuietHandler(WSGIRequestHandler):
    def log_message(self, *args):
        pass


def main(side, folder):
    application = corvane_app(folder) if side == "corvane" else \
        multipart_app(folder)
    server = make_server("127.0.0.1", 0, Timed(application),
                         handler_class=QuietHandler)
    print(server.server_port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
