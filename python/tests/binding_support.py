# SPDX-License-Identifier: Apache-2.0
"""What the module's tests share: a registry of the build's components plus
the frame's test component (Corvane.Test), put in place before corvane is
imported, and multipart bodies."""

import atexit
import os
import shutil
import tempfile
import uuid

BIN = os.environ.get("CORVANE_BIN", os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "default", "bin"))
TEST_CLSID = "{6C1B0F3E-2D4A-4E8B-9A51-3F7C2E9D0B14}"


def use_test_registry():
    """Points CORVANE_REGISTRY at a copy of the build's registry with
    Corvane.Test added; removed when the tests end."""
    folder = tempfile.mkdtemp(prefix="corvane-python-")
    atexit.register(shutil.rmtree, folder, True)
    registry = os.path.join(folder, "corvane.registry")
    with open(os.path.join(BIN, "corvane.registry")) as built:
        lines = built.read()
    library = os.path.abspath(os.path.join(BIN, "libcorvanetest.so"))
    with open(registry, "w") as out:
        out.write(lines + f"Corvane.Test\t{TEST_CLSID}\t{library}\n")
    os.environ["CORVANE_REGISTRY"] = registry


def multipart(fields=(), files=()):
    """(body, content type): `fields` are (name, text) pairs, `files`
    (field, file name, bytes) triples."""
    boundary = "----corvane" + uuid.uuid4().hex
    parts = []
    for name, value in fields:
        parts.append(f'--{boundary}\r\nContent-Disposition: form-data; '
                     f'name="{name}"\r\n\r\n'.encode() + value.encode() +
                     b"\r\n")
    for field, file_name, data in files:
        parts.append(f'--{boundary}\r\nContent-Disposition: form-data; '
                     f'name="{field}"; filename="{file_name}"\r\n'
                     f"Content-Type: application/octet-stream\r\n\r\n"
                     .encode() + data + b"\r\n")
    body = b"".join(parts) + f"--{boundary}--\r\n".encode()
    return body, f"multipart/form-data; boundary={boundary}"
