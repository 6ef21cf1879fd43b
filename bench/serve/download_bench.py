#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""A 4 GiB download from the console's Files page: whole, by ranges of
512 MiB, and cut off midway then resumed with Range and If-Range, each
compared byte for byte (SHA-256) with the file, while the console's
resident memory is sampled every 50 ms. Beside it, in the same run, nginx
sends the same file whole to the same client. Target: the console's memory
stays flat (at most 8 MiB above its size before the downloads) whatever
the file's size.

The file is sparse: 1 MiB of random bytes every 64 MiB and holes between,
so that it takes 64 MiB of disk and every range holds bytes of its own.

Environment: CORVANE_BIN (the build's bin folder); DOWNLOAD_BENCH_GIB (the
file's size in GiB, 4 by default)."""

import hashlib
import http.client
import os
import shutil
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "tests"))
sys.path.insert(0, here)

from serve_bench import NGINX, Nginx, Process, Sampler  # noqa: E402
from support.console import Console  # noqa: E402

GIB = int(os.environ.get("DOWNLOAD_BENCH_GIB", "4"))
SIZE = GIB << 30
STRIDE = 64 << 20
BLOCK = 1 << 20
RANGE = 512 << 20
PIECE = 1 << 20
FLAT_KIB = 8 * 1024


def make_file(path):
    with open(path, "wb") as out:
        out.truncate(SIZE)
        for at in range(0, SIZE, STRIDE):
            out.seek(at)
            out.write(os.urandom(BLOCK))


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        while piece := source.read(8 * PIECE):
            digest.update(piece)
    return digest.hexdigest()


def fetch(port, target, digest, headers=None, stop_after=None):
    """GETs `target`, feeding the body to `digest`; (status, headers, bytes
    read). With `stop_after`, the connection is dropped after that many
    bytes, as an interrupted download."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    connection.request("GET", target, headers=headers or {})
    response = connection.getresponse()
    read = 0
    while piece := response.read(PIECE):
        if stop_after is not None:
            piece = piece[:stop_after - read]
        digest.update(piece)
        read += len(piece)
        if stop_after is not None and read >= stop_after:
            break
    answer = dict(response.getheaders())
    connection.close()
    return response.status, answer, read


def check(condition, what):
    if not condition:
        raise RuntimeError(f"download bench: {what}")


def rate(size, seconds):
    return f"{size / seconds / 1e6:7.0f} MB/s"


def console_downloads(console, target, expected):
    """The three downloads; (seconds of the whole one, memory samples)."""
    process = Process(console.process.pid)
    idle = process.rss_kib()
    with Sampler(process) as sampler:
        digest = hashlib.sha256()
        start = time.perf_counter()
        status, headers, read = fetch(console.port, target, digest)
        whole = time.perf_counter() - start
        check(status == 200 and read == SIZE, f"whole: {status}, {read} bytes")
        check(digest.hexdigest() == expected, "whole: the bytes differ")
        tag = headers["ETag"]
        print(f"console whole        {rate(SIZE, whole)}", flush=True)

        digest = hashlib.sha256()
        start = time.perf_counter()
        for first in range(0, SIZE, RANGE):
            last = min(first + RANGE, SIZE) - 1
            status, headers, read = fetch(
                console.port, target, digest,
                {"Range": f"bytes={first}-{last}", "If-Range": tag})
            check(status == 206 and read == last - first + 1,
                  f"range {first}-{last}: {status}, {read} bytes")
        check(digest.hexdigest() == expected, "ranges: the bytes differ")
        print(f"console by ranges    "
              f"{rate(SIZE, time.perf_counter() - start)}  "
              f"({SIZE // RANGE} ranges of {RANGE >> 20} MiB)", flush=True)

        digest = hashlib.sha256()
        cut = SIZE * 3 // 8 + 12345
        status, _, read = fetch(console.port, target, digest, stop_after=cut)
        check(status == 200 and read == cut, f"cut: {status}, {read} bytes")
        status, headers, read = fetch(
            console.port, target, digest,
            {"Range": f"bytes={cut}-", "If-Range": tag})
        check(status == 206 and read == SIZE - cut,
              f"resumed: {status}, {read} bytes")
        check(digest.hexdigest() == expected, "resumed: the bytes differ")
        print(f"console resumed at byte {cut}: identical", flush=True)
    peak = max(sampler.samples)
    return whole, idle, peak


def nginx_whole(scratch, root, name, expected):
    for folder in (scratch, root):
        os.chmod(folder, 0o755)
    os.chmod(os.path.join(root, name), 0o644)
    with Nginx(root, scratch) as nginx:
        digest = hashlib.sha256()
        start = time.perf_counter()
        status, _, read = fetch(nginx.port, "/" + name, digest)
        seconds = time.perf_counter() - start
    check(status == 200 and read == SIZE and digest.hexdigest() == expected,
          "nginx: the whole file did not arrive")
    print(f"nginx whole          {rate(SIZE, seconds)}", flush=True)
    return seconds


def main():
    with open("/proc/cpuinfo") as info:
        model = next((line.split(":", 1)[1].strip() for line in info
                      if line.startswith("model name")), "unknown")
    print(f"CPU: {model}, {os.cpu_count()} cores; a {GIB} GiB file, "
          f"downloaded by a Python client hashing what it reads")
    scratch = tempfile.mkdtemp(prefix="corvane-download-bench-")
    try:
        data = os.path.join(scratch, "var")
        os.makedirs(data)
        name = "big.bin"
        path = os.path.join(data, name)
        make_file(path)
        expected = file_digest(path)
        with Console(data, "--no-auth") as console:
            whole, idle, peak = console_downloads(
                console, "/files/download?path=" + name, expected)
        growth = peak - idle
        print(f"console RSS {idle / 1024:.1f} MiB before, peak "
              f"{peak / 1024:.1f} MiB during the downloads: "
              f"+{growth / 1024:.1f} MiB (target at most "
              f"{FLAT_KIB // 1024} MiB: "
              f"{'met' if growth <= FLAT_KIB else 'NOT met'})", flush=True)
        if NGINX:
            seconds = nginx_whole(scratch, data, name, expected)
            print(f"whole download: console / nginx = {seconds / whole:.2f}x "
                  f"the rate", flush=True)
        else:
            print("nginx is missing: the comparison is skipped")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
