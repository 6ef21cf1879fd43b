#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Runs wharfpost, busboy and Cargane (`corvane upload`) as CGI programs on
the same bodies from standard input, each into a fresh directory of the same
scratch root, and prints MB/s, wharfpost's and Cargane's ratios to busboy
beside their target, and each side's peak resident memory; then the peak
memory of wharfpost and Cargane on a 64 MiB and a 1 GiB body, which must
not grow with the body.
Usage: compare.py BIN BODIES"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TARGETS = {"one_file": 2, "text_fields": 10, "small_files": 3}
RUNS = {"one_file": 3, "text_fields": 5, "small_files": 5}
MiB = 1024 * 1024


def run_once(command, body, environment):
    """Seconds and peak resident bytes of one run."""
    with open(body, "rb") as stdin:
        start = time.perf_counter()
        child = subprocess.Popen(command, stdin=stdin, stdout=subprocess.DEVNULL,
                                 env={**os.environ, **environment})
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{command[0]} failed")
    return seconds, usage.ru_maxrss * 1024


def sides(bin_dir, site, content_type, target):
    cgi = {"CONTENT_TYPE": content_type, "REQUEST_METHOD": "POST"}
    relative = os.path.relpath(target, site["root"])
    return {
        "wharfpost": ([site["program"]],
                      {**cgi, "HTTP_COOKIE": f"WharfpostToWhere={relative}"}),
        "busboy": (["node", os.path.join(HERE, "busboy_stdin.js"),
                    content_type, target], {}),
        # Cargane's own body limit (1 GiB by default) is lifted for the
        # 1 GiB file: the body is read in pieces, never held.
        "cargane": ([os.path.join(bin_dir, "corvane"), "upload", "--dir",
                     target, "--ext", "*", "--max-body", str(2**31 - 1)], cgi),
    }


def measure(bin_dir, site, bodies, name, runs):
    body = os.path.join(bodies, name + ".body")
    size = os.path.getsize(body)
    with open(os.path.join(bodies, name + ".type")) as kind:
        content_type = kind.read()
    results = {}
    for side in ("wharfpost", "busboy", "cargane"):
        best, peak = None, 0
        for run in range(runs):
            target = os.path.join(site["root"], f"{name}-{side}-{run}")
            os.mkdir(target)
            command, environment = sides(bin_dir, site, content_type,
                                         target)[side]
            environment["CONTENT_LENGTH"] = str(size)
            seconds, rss = run_once(command, body, environment)
            best = seconds if best is None else min(best, seconds)
            peak = max(peak, rss)
            shutil.rmtree(target)
        results[side] = (size / best / 1e6, peak)
    return results


def make_site(bin_dir, scratch):
    """A copy of wharfpost in `scratch` with its .ini file, whose upload
    root is scratch/root; every side's directory goes under that root."""
    root = os.path.join(scratch, "root")
    os.mkdir(root)
    program = os.path.join(scratch, "wharfpost")
    shutil.copy2(os.path.join(bin_dir, "wharfpost"), program)
    with open(program + ".ini", "w") as ini:
        ini.write(f"[Wharfpost]\nUploadRoot={root}\n")
    return {"root": root, "program": program}


def main(bin_dir, bodies):
    scratch = tempfile.mkdtemp(prefix="wharfpost-bench-",
                               dir=os.environ.get("CARGANE_BENCH_ROOT", "/tmp"))
    try:
        site = make_site(bin_dir, scratch)
        root = site["root"]
        print(f"{'body':<14}{'wharfpost':>12}{'busboy':>10}{'cargane':>10}"
              f"{'w/b':>7}{'c/b':>7}{'target':>8}"
              "   peak MiB (wharfpost/busboy/cargane)")
        for name, target in TARGETS.items():
            r = measure(bin_dir, site, bodies, name, RUNS[name])
            ratios = [r[side][0] / r["busboy"][0]
                      for side in ("wharfpost", "cargane")]
            print(f"{name:<14}{r['wharfpost'][0]:>12.0f}{r['busboy'][0]:>10.0f}"
                  f"{r['cargane'][0]:>10.0f}{ratios[0]:>6.1f}x"
                  f"{ratios[1]:>6.1f}x{target:>7}x   "
                  + "/".join(f"{r[s][1] / MiB:.1f}"
                             for s in ("wharfpost", "busboy", "cargane")))
        for side in ("wharfpost", "cargane"):
            for name in ("one_file_64m", "one_file"):
                body = os.path.join(bodies, name + ".body")
                target = os.path.join(root, "peak")
                os.mkdir(target)
                with open(os.path.join(bodies, name + ".type")) as kind:
                    command, environment = sides(bin_dir, site, kind.read(),
                                                 target)[side]
                environment["CONTENT_LENGTH"] = str(os.path.getsize(body))
                _, rss = run_once(command, body, environment)
                shutil.rmtree(target)
                print(f"{side} peak memory, {os.path.getsize(body) // MiB} MiB "
                      f"body: {rss / MiB:.1f} MiB")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
