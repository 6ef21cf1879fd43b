# SPDX-License-Identifier: Apache-2.0
"""`corvane base64` beside coreutils' `base64` and `openssl base64` on the
same 64 MiB of random bytes, in CPU time (user + system of the child,
output to /dev/null), runs interleaved, the median of RUNS; each decoder
reads the text its own encoder writes. Then Node's Buffer Base64 as the
anchor for the kernels (bench/base64/node_buffer.js)."""

import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

BIN = sys.argv[1]
RUNS = int(os.environ.get("RUNS", "7"))
SIZE = 64 << 20
CORVANE = os.path.join(BIN, "corvane")


def cpu_seconds(command, source):
    with open(source, "rb") as stdin, open(os.devnull, "wb") as stdout:
        child = subprocess.Popen(command, stdin=stdin, stdout=stdout)
        _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        raise SystemExit(f"{command} failed with status {status}")
    return usage.ru_utime + usage.ru_stime


def main():
    folder = tempfile.mkdtemp(prefix="base64-bench-")
    try:
        data = os.path.join(folder, "data")
        with open(data, "wb") as file:
            file.write(os.urandom(SIZE))
        texts = {}
        for name, command in (
                ("corvane", [CORVANE, "base64"]),
                ("corvane-unbroken", [CORVANE, "base64", "--unbroken"]),
                ("coreutils", ["base64"]),
                ("openssl", ["openssl", "base64"])):
            texts[name] = os.path.join(folder, name + ".b64")
            with open(data, "rb") as stdin, open(texts[name], "wb") as out:
                subprocess.run(command, stdin=stdin, stdout=out, check=True)
        cases = [
            ("encode, lines", "corvane base64", [CORVANE, "base64"], data),
            ("encode, lines", "base64", ["base64"], data),
            ("encode, lines", "openssl base64", ["openssl", "base64"], data),
            ("encode, one line", "corvane base64 --unbroken",
             [CORVANE, "base64", "--unbroken"], data),
            ("encode, one line", "base64 -w 0", ["base64", "-w", "0"], data),
            ("encode, one line", "openssl base64 -A",
             ["openssl", "base64", "-A"], data),
            ("decode, lines", "corvane base64 --decode",
             [CORVANE, "base64", "--decode"], texts["corvane"]),
            ("decode, lines", "base64 -d", ["base64", "-d"],
             texts["coreutils"]),
            ("decode, lines", "openssl base64 -d", ["openssl", "base64", "-d"],
             texts["openssl"]),
            ("decode, one line", "corvane base64 --decode",
             [CORVANE, "base64", "--decode"], texts["corvane-unbroken"]),
        ]
        if shutil.which("openssl") is None:
            cases = [c for c in cases if not c[1].startswith("openssl")]
        times = {i: [] for i in range(len(cases))}
        for _ in range(RUNS):
            for i, (_, _, command, source) in enumerate(cases):
                times[i].append(cpu_seconds(command, source))
        print(f"64 MiB of random bytes, CPU seconds (median of {RUNS}):")
        for i, (form, name, _, _) in enumerate(cases):
            median = statistics.median(times[i])
            print(f"  {form:17} {name:28} {median * 1000:8.1f} ms "
                  f"{SIZE / median / 1e9:6.2f} GB/s")
        if shutil.which("node"):
            here = os.path.dirname(os.path.abspath(__file__))
            for size in (1 << 20, SIZE):
                anchor = json.loads(subprocess.run(
                    ["node", os.path.join(here, "node_buffer.js"), str(size)],
                    check=True, capture_output=True, text=True).stdout)
                print(f"Node Buffer base64, {size >> 20} MiB in memory: "
                      f"encode {anchor['encode']:.2f} GB/s, "
                      f"decode {anchor['decode']:.2f} GB/s")
    finally:
        shutil.rmtree(folder)


main()
