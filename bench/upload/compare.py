#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Runs upload_bench and busboy on the same three bodies, measures the peak
memory of `corvane upload` on each body, and prints MB/s, the ratios to
busboy with their targets, and the peak memory over the body size.
Usage: compare.py BIN BODIES

The files go to a scratch directory under /tmp, or under $CARGANE_BENCH_ROOT
when set (a tmpfs, say: on ext4 without a journal every file creation steps
over the inodes deleted in the last minutes, which can dwarf the rest of the
small-files case)."""

import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
# Body name -> the factor by which Cargane must beat busboy's MB/s.
TARGETS = {"one_file": 2, "text_fields": 10, "small_files": 3}
MiB = 1024 * 1024


def cargane_rates(bin_dir, bodies, scratch):
    out = subprocess.run(
        [os.path.join(bin_dir, "upload_bench"), "--benchmark_format=json"],
        env={**os.environ, "CARGANE_BENCH_BODIES": bodies,
             "CARGANE_BENCH_SCRATCH": scratch},
        check=True, capture_output=True, text=True).stdout
    rates = {}
    for run in json.loads(out)["benchmarks"]:
        name = run["name"].split("/")[1]
        rates[name] = run["bytes_per_second"]
    return rates


def busboy_rates(bodies, scratch):
    out = subprocess.run(
        ["node", os.path.join(HERE, "busboy_bench.js"), bodies, scratch,
         *TARGETS],
        check=True, capture_output=True, text=True).stdout
    return {name: result["bytes_per_second"]
            for name, result in json.loads(out).items()}


def peak_memory(command, stdin_path, environment):
    """Peak resident bytes of one run of `command`."""
    with open(stdin_path, "rb") as body:
        child = subprocess.Popen(command, stdin=body,
                                 env={**os.environ, **environment},
                                 stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise RuntimeError(f"{command[0]} failed with {child.returncode}")
    return usage.ru_maxrss * 1024


def cargane_peaks(bin_dir, bodies, scratch):
    peaks = {}
    for name in TARGETS:
        target = os.path.join(scratch, "memory-" + name)
        body = os.path.join(bodies, name + ".body")
        with open(os.path.join(bodies, name + ".type")) as kind:
            content_type = kind.read()
        peaks[name] = peak_memory(
            [os.path.join(bin_dir, "corvane"), "upload", "--dir", target,
             "--ext", "*"], body,
            {"CONTENT_LENGTH": str(os.path.getsize(body)),
             "CONTENT_TYPE": content_type, "REQUEST_METHOD": "POST"})
    return peaks


def main(bin_dir, bodies):
    # Nothing is deleted until both are done: ext4 slows the creation of
    # files right after many deletions.
    scratch = tempfile.mkdtemp(prefix="cargane-bench-",
                               dir=os.environ.get("CARGANE_BENCH_ROOT", "/tmp"))

    try:
        ours = cargane_rates(bin_dir, bodies, scratch)
        theirs = busboy_rates(bodies, scratch)
        peaks = cargane_peaks(bin_dir, bodies, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{'body':<12} {'Cargane MB/s':>13} {'busboy MB/s':>12} "
          f"{'ratio':>7} {'target':>7} {'peak MiB':>9} {'body MiB':>9} "
          f"{'over':>7}")
    for name, factor in TARGETS.items():
        size = os.path.getsize(os.path.join(bodies, name + ".body"))
        ratio = ours[name] / theirs[name]
        over = (peaks[name] - size) / MiB
        verdict = "ok" if ratio >= factor and over <= 16 else "MISSED"
        print(f"{name:<12} {ours[name] / 1e6:>13.1f} "
              f"{theirs[name] / 1e6:>12.1f} {ratio:>7.2f} {'>=' + str(factor):>7} "
              f"{peaks[name] / MiB:>9.1f} {size / MiB:>9.1f} {over:>7.1f}  "
              f"{verdict}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
