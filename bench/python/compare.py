# SPDX-License-Identifier: Apache-2.0
"""A 256 MiB upload (one file and a text field) through a Flask view behind
wsgiref on loopback, stored by Cargane (corvane.WsgiPage) and by
python-multipart in the same run: wall-clock MB/s, the view's CPU seconds,
and the server's peak resident memory, best of RUNS runs each. Every stored
file is checked byte for byte.
Usage: compare.py PYTHON_MODULE_FOLDER [MiB]"""

import hashlib
import http.client
import os
import shutil
import subprocess
import sys
import tempfile
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
RUNS = 3
MiB = 1024 * 1024


def cpu_name():
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def make_body(folder, size):
    """(body path, content type, SHA-256 of the file part, its size)."""
    boundary = "----corvanebench" + uuid.uuid4().hex
    path = os.path.join(folder, "body")
    digest = hashlib.sha256()
    with open(path, "wb") as body:
        body.write(f'--{boundary}\r\nContent-Disposition: form-data; '
                   f'name="note"\r\n\r\nbenchmark\r\n--{boundary}\r\n'
                   f'Content-Disposition: form-data; name="file"; '
                   f'filename="big.bin"\r\nContent-Type: '
                   f'application/octet-stream\r\n\r\n'.encode())
        # Random bytes with CR LF and dashes among them, as binary files
        # have, in 1 MiB pieces.
        for _ in range(size // MiB):
            piece = os.urandom(MiB)
            digest.update(piece)
            body.write(piece)
        body.write(f"\r\n--{boundary}--\r\n".encode())
    return path, f"multipart/form-data; boundary={boundary}", \
        digest.hexdigest()


def post(port, body, content_type):
    """(seconds, the view's CPU seconds, status)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=600,
                                            blocksize=256 * 1024)
    size = os.path.getsize(body)
    with open(body, "rb") as data:
        start = time.perf_counter()
        connection.request("POST", "/upload", data,
                           {"Content-Type": content_type,
                            "Content-Length": str(size)})
        response = connection.getresponse()
        response.read()
        seconds = time.perf_counter() - start
    connection.close()
    return seconds, float(response.getheader("X-Cpu-Seconds")), \
        response.status


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stored:
        while piece := stored.read(MiB):
            digest.update(piece)
    return digest.hexdigest()


def measure(side, module_folder, scratch, body, content_type, expected):
    folder = os.path.join(scratch, side)
    os.mkdir(folder)
    env = {**os.environ, "PYTHONPATH": module_folder,
           "PYTHONDONTWRITEBYTECODE": "1"}
    server = subprocess.Popen(
        ["/usr/bin/python3", os.path.join(HERE, "server.py"), side, folder],
        stdout=subprocess.PIPE, env=env, text=True)
    try:
        port = int(server.stdout.readline())
        best_wall, best_cpu = None, None
        for _ in range(RUNS):
            seconds, cpu, status = post(port, body, content_type)
            if status != 200:
                raise RuntimeError(f"{side} answered {status}")
            stored = os.path.join(folder, "big.bin")
            if file_digest(stored) != expected:
                raise RuntimeError(f"{side} stored other bytes")
            os.remove(stored)
            best_wall = seconds if best_wall is None else min(best_wall,
                                                              seconds)
            best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
    finally:
        server.terminate()
        _, _, usage = os.wait4(server.pid, 0)
    return best_wall, best_cpu, usage.ru_maxrss * 1024


def main(module_folder, mib=256):
    scratch = tempfile.mkdtemp(prefix="corvane-python-bench-",
                               dir=os.environ.get("CARGANE_BENCH_ROOT",
                                                  "/tmp"))
    try:
        body, content_type, expected = make_body(scratch, mib * MiB)
        size = os.path.getsize(body)
        print(f"{mib} MiB upload through a Flask view (wsgiref, loopback), "
              f"best of {RUNS}; CPU: {cpu_name()}")
        print(f"{'side':<18}{'MB/s':>8}{'view CPU s':>12}{'MB/CPU s':>10}"
              f"{'peak MiB':>10}")
        results = {}
        for side, label in (("corvane", "Cargane"),
                            ("multipart", "python-multipart")):
            wall, cpu, peak = measure(side, module_folder, scratch, body,
                                      content_type, expected)
            results[side] = cpu
            print(f"{label:<18}{size / wall / 1e6:>8.0f}{cpu:>12.2f}"
                  f"{size / cpu / 1e6:>10.0f}{peak / MiB:>10.1f}")
        print(f"python-multipart's view takes "
              f"{results['multipart'] / results['corvane']:.1f}x Cargane's "
              f"CPU")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main(sys.argv[1], *(int(value) for value in sys.argv[2:]))
