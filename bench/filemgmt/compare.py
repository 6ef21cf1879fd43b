#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Times Vantry's ReadDir, DeleteDir, CopyFile and CopyFileEx (through
filemgmt_bench) against their anchors on identical trees made fresh before
each timed run, and prints the median, the spread and the ratio to each
target. Usage: compare.py BIN

Both sides are measured in CPU time (user and system) as well as in wall
time: on a machine shared with other work the wall time mostly measures
the wait for a processor. The ratio to the target is taken on CPU time.

The same operations through a file system rooted in the scratch directory
(as the console's Files page drives Vantry) are timed beside Vantry on the
plain file system, which is their anchor.

Trees go to a scratch directory under /tmp, or under $VANTRY_BENCH_ROOT
when set. Each case runs $VANTRY_BENCH_RUNS times (default 3)."""

import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

RUNS = int(os.environ.get("VANTRY_BENCH_RUNS", "3"))
SCANDIR = """
import os, sys, time
start = time.process_time()
rows = []
for entry in os.scandir(sys.argv[1]):
    st = entry.stat()
    rows.append((entry.name, st.st_size,
                 time.strftime("%m/%d/%y %I:%M:%S %p", time.localtime(st.st_ctime)),
                 time.strftime("%m/%d/%y %I:%M:%S %p", time.localtime(st.st_mtime)),
                 time.strftime("%m/%d/%y %I:%M:%S %p", time.localtime(st.st_atime))))
print(time.process_time() - start)
"""


def vantry(bin_dir, *args):
    out = subprocess.run([os.path.join(bin_dir, "filemgmt_bench"), *args],
                         capture_output=True, text=True)
    answer = json.loads(out.stdout)
    if answer["result"] != 1:
        sys.exit(f"filemgmt_bench {args}: {answer}")
    return answer


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def wall(command, cpu=None, **options):
    """Wall seconds of a whole command; its CPU seconds go to `cpu`."""
    start, cpu_start = time.perf_counter(), children_cpu()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **options)
    if cpu is not None:
        cpu.append(children_cpu() - cpu_start)
    return time.perf_counter() - start


def flat_tree(path, count, size=0):
    os.makedirs(path)
    block = b"x" * size
    for i in range(count):
        with open(os.path.join(path, f"file{i:06d}.dat"), "wb") as out:
            out.write(block)


def deep_tree(path, dirs=1000, per_dir=100):
    for d in range(dirs):
        flat_tree(os.path.join(path, f"dir{d:04d}"), per_dir)


def summary(times):
    return statistics.median(times), min(times), max(times)


def report(name, ours, anchor, anchor_name, target, higher_is_better=False):
    m, lo, hi = summary(ours)
    am, alo, ahi = summary(anchor)
    ratio = am / m if higher_is_better else m / am
    verdict = ("ok" if (ratio >= target if higher_is_better else ratio <= target)
               else "MISSED")
    relation = "x faster, target >=" if higher_is_better else "x the time, target <="
    print(f"{name}: Vantry {m:.3f}s [{lo:.3f}-{hi:.3f}], {anchor_name} "
          f"{am:.3f}s [{alo:.3f}-{ahi:.3f}]: {ratio:.2f}{relation} {target} "
          f"({verdict})")


def bench_readdir(bin_dir, scratch):
    path = os.path.join(scratch, "flat")
    flat_tree(path, 100_000)
    vantry(bin_dir, "readdir", path)  # warm the caches for everyone
    ours, python, ls_f, ls_l, peaks = [], [], [], [], []
    for _ in range(RUNS):
        answer = vantry(bin_dir, "readdir", path)
        ours.append(answer["cpu_seconds"])
        peaks.append(answer["peak_growth_kb"])
        python.append(float(subprocess.run(
            [sys.executable, "-c", SCANDIR, path], check=True,
            capture_output=True, text=True).stdout))
        wall(["ls", "-f", path], ls_f)
        wall(["ls", "-l", path], ls_l, env={**os.environ, "LC_ALL": "C"})
    report("ReadDir 100,000 files (CPU)", ours, python,
           "os.scandir+stat+3 times", 3, higher_is_better=True)
    for name, times in (("ls -f", ls_f), ("ls -l", ls_l)):
        m, lo, hi = summary(times)
        print(f"  beside it: {name} {m:.3f}s CPU [{lo:.3f}-{hi:.3f}] "
              "(whole process)")
    print(f"  peak memory growth of ReadDir: {statistics.median(peaks) / 1024:.1f} "
          "MiB per 100,000 entries")
    shutil.rmtree(path)


def bench_deletedir(bin_dir, scratch):
    ours, rm, ours_wall, rm_wall = [], [], [], []
    for run in range(RUNS):
        a, b = os.path.join(scratch, "tree-a"), os.path.join(scratch, "tree-b")
        deep_tree(a)
        deep_tree(b)
        subprocess.run(["sync"], check=True)
        # The side that goes second meets the journal work of the first:
        # each goes first in every other run.
        for side in ((0, 1) if run % 2 == 0 else (1, 0)):
            if side == 0:
                answer = vantry(bin_dir, "deletedir", a)
                ours.append(answer["cpu_seconds"])
                ours_wall.append(answer["seconds"])
            else:
                rm_wall.append(wall(["rm", "-rf", b], rm))
    report("DeleteDir 100,000 files in 1,000 directories (CPU)", ours, rm,
           "rm -rf", 1.0)
    report("  the same in wall time", ours_wall, rm_wall, "rm -rf", 1.0)


def bench_copyfile(bin_dir, scratch):
    source = os.path.join(scratch, "big.bin")
    with open(source, "wb") as out:
        chunk = os.urandom(64 << 20)
        for _ in range(16):
            out.write(chunk)
    ours, cp, ours_wall, cp_wall = [], [], [], []
    for _ in range(RUNS):
        for name in ("copy-a", "copy-b"):
            target = os.path.join(scratch, name)
            if os.path.exists(target):
                os.remove(target)
        subprocess.run(["sync"], check=True)
        answer = vantry(bin_dir, "copyfile", source,
                        os.path.join(scratch, "copy-a"))
        ours.append(answer["cpu_seconds"])
        ours_wall.append(answer["seconds"])
        cp_wall.append(wall(["cp", source, os.path.join(scratch, "copy-b")],
                            cp))
    report("CopyFile of 1 GiB (CPU)", ours, cp, "cp", 0.9,
           higher_is_better=True)
    report("  the same in wall time", ours_wall, cp_wall, "cp", 0.9,
           higher_is_better=True)
    for name in ("big.bin", "copy-a", "copy-b"):
        os.remove(os.path.join(scratch, name))


def bench_copyfileex(bin_dir, scratch):
    source = os.path.join(scratch, "small")
    flat_tree(source, 10_000, 4096)
    names = sorted(os.listdir(source))
    ours, cp, ours_wall, cp_wall = [], [], [], []
    for _ in range(RUNS):
        a, b = os.path.join(scratch, "small-a"), os.path.join(scratch, "small-b")
        for target in (a, b):
            shutil.rmtree(target, ignore_errors=True)
            os.mkdir(target)
        subprocess.run(["sync"], check=True)
        answer = vantry(bin_dir, "copyfileex", source, a)
        ours.append(answer["cpu_seconds"])
        ours_wall.append(answer["seconds"])
        cp_wall.append(wall(["cp", "-t", b] + names, cp, cwd=source))
    report("CopyFileEx of 10,000 files of 4 KiB (CPU)", ours, cp, "cp", 0.9,
           higher_is_better=True)
    report("  the same in wall time", ours_wall, cp_wall, "cp", 0.9,
           higher_is_better=True)
    for path in (source, a, b):
        shutil.rmtree(path)


def beside(name, rooted, plain):
    m, lo, hi = summary(rooted)
    am, alo, ahi = summary(plain)
    print(f"{name}: rooted {m:.3f}s [{lo:.3f}-{hi:.3f}], plain file system "
          f"{am:.3f}s [{alo:.3f}-{ahi:.3f}]: {m / am:.2f}x the time")


def bench_rooted(bin_dir, scratch):
    """ReadDir, CopyFileEx and DeleteDir through the rooted file system,
    each beside the same call on the plain file system (CPU time)."""
    def timed(rooted, *args):
        if rooted:
            relative = [os.path.relpath(arg, scratch) for arg in args[1:]]
            return vantry(bin_dir, "--rooted", scratch, args[0],
                          *relative)["cpu_seconds"]
        return vantry(bin_dir, *args)["cpu_seconds"]

    flat = os.path.join(scratch, "flat")
    flat_tree(flat, 100_000)
    timed(False, "readdir", flat)
    plain, rooted = [], []
    for _ in range(RUNS):
        plain.append(timed(False, "readdir", flat))
        rooted.append(timed(True, "readdir", flat))
    beside("Rooted ReadDir 100,000 files (CPU)", rooted, plain)
    shutil.rmtree(flat)

    source = os.path.join(scratch, "small")
    flat_tree(source, 10_000, 4096)
    plain, rooted = [], []
    for _ in range(RUNS):
        for times, is_rooted in ((plain, False), (rooted, True)):
            target = os.path.join(scratch, "small-copy")
            shutil.rmtree(target, ignore_errors=True)
            os.mkdir(target)
            times.append(timed(is_rooted, "copyfileex", source, target))
    beside("Rooted CopyFileEx 10,000 files of 4 KiB (CPU)", rooted, plain)
    shutil.rmtree(source)

    plain, rooted = [], []
    for _ in range(RUNS):
        for times, is_rooted in ((plain, False), (rooted, True)):
            tree = os.path.join(scratch, "tree")
            deep_tree(tree, 200)
            times.append(timed(is_rooted, "deletedir", tree))
    beside("Rooted DeleteDir 20,000 files in 200 directories (CPU)", rooted,
           plain)


def main():
    bin_dir = sys.argv[1]
    root = os.environ.get("VANTRY_BENCH_ROOT", "/tmp")
    scratch = tempfile.mkdtemp(prefix="vantry-bench-", dir=root)
    try:
        print(open("/proc/cpuinfo").read().split("model name")[1]
              .split("\n")[0].strip(": \t"))
        only = sys.argv[2] if len(sys.argv) > 2 else None
        for name, bench in (("readdir", bench_readdir),
                            ("deletedir", bench_deletedir),
                            ("copyfile", bench_copyfile),
                            ("copyfileex", bench_copyfileex),
                            ("rooted", bench_rooted)):
            if only in (None, name):
                bench(bin_dir, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
