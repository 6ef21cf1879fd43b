#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""CPU time (user + system) of whole CGI processes on the same bodies:
wharfpost and Cargane (`corvane upload`) against busboy (busboy_stdin.js,
Node reading standard input), in the same run. Each round runs every side
once on every body, the order of the sides turning from round to round, so
that a load that comes and goes spreads over all of them; the median of the
rounds is reported, with each side's peak resident memory. CPU time rather
than wall time, since the machine may be shared with other work.

Every side does the same work per file, one inode and one name:
busboy_stdin.js opens each file under its final name (open with O_CREAT),
writes it and closes it; wharfpost and Cargane open it without a name
(O_TMPFILE), write it and link it under its name when it is complete (a name
that is taken already goes through a hidden temporary name and a rename).
On ext4 the creation of an inode right after many deletions costs both sides
alike; $CARGANE_BENCH_ROOT on a tmpfs takes that cost away. Cargane also
answers with its JSON text (every field), read here through a pipe as a web
server would, wharfpost with its redirect (at most 8,000 bytes);
busboy_stdin.js collects the fields and answers nothing. Nothing is deleted until the end (ext4 slows the
creation of files right after many deletions): the files of a finished run
are truncated, which hands their page-cache pages back.

Usage: cpu_compare.py BIN BODIES [ROUNDS] (bodies from
bench/gateway/make_bodies.py; ROUNDS defaults to 5). $CARGANE_BENCH_ROOT
moves the scratch directory off /tmp; $CARGANE_BENCH_BODIES (comma-separated
names) picks some of the bodies; $CARGANE_BENCH_SIDES some of the sides."""

import importlib.util
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
# The sides' command lines and the targets are the gateway benchmark's.
_spec = importlib.util.spec_from_file_location(
    "gateway_compare", os.path.join(HERE, "..", "gateway", "compare.py"))
gateway = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(gateway)
TARGETS, sides = gateway.TARGETS, gateway.sides
os.environ.setdefault("NODE_PATH", os.path.join(HERE, "node_modules"))

SIDES = ("busboy", "wharfpost", "cargane")
MiB = 1024 * 1024


def cpu_once(command, body, environment):
    """CPU seconds (user + system, every thread) and peak resident bytes of
    one run; fails when the program does."""
    with open(body, "rb") as stdin:
        child = subprocess.Popen(command, stdin=stdin, stdout=subprocess.PIPE,
                                 env={**os.environ, **environment})
        answer = child.stdout.read()
        _, status, usage = os.wait4(child.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{command[0]} failed")
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024, answer


def check_answer(side, answer):
    """A run that stored nothing right must not pass for a fast one."""
    text = answer.decode(errors="replace")
    if side == "wharfpost" and "ErrorCode=1&" not in text:
        raise RuntimeError(f"wharfpost answered {text[:200]}")
    if side == "cargane" and '\n{"code":1,' not in text:
        raise RuntimeError(f"cargane answered {text[:200]}")


def truncate_files(directory):
    for entry in os.scandir(directory):
        if entry.is_file():
            os.truncate(entry.path, 0)


def main(bin_dir, bodies, rounds):
    names = os.environ.get("CARGANE_BENCH_BODIES", ",".join(TARGETS))
    names = [name for name in names.split(",") if name]
    chosen = os.environ.get("CARGANE_BENCH_SIDES", ",".join(SIDES))
    order = [side for side in SIDES if side in chosen.split(",")]
    scratch = tempfile.mkdtemp(prefix="cargane-cpu-",
                               dir=os.environ.get("CARGANE_BENCH_ROOT", "/tmp"))
    cpu = {(name, side): [] for name in names for side in order}
    peak = {(name, side): 0 for name in names for side in order}
    try:
        site = gateway.make_site(bin_dir, scratch)
        root = site["root"]
        for run in range(rounds + 1):  # round 0 warms the caches up
            turn = order[run % len(order):] + order[:run % len(order)]
            for name in names:
                body = os.path.join(bodies, name + ".body")
                with open(os.path.join(bodies, name + ".type")) as kind:
                    content_type = kind.read()
                for side in turn:
                    target = os.path.join(root, f"{name}-{side}-{run}")
                    os.mkdir(target)
                    command, environment = sides(bin_dir, site, content_type,
                                                 target)[side]
                    environment["CONTENT_LENGTH"] = str(os.path.getsize(body))
                    seconds, rss, answer = cpu_once(command, body, environment)
                    check_answer(side, answer)
                    truncate_files(target)
                    if run > 0:
                        cpu[name, side].append(seconds)
                    peak[name, side] = max(peak[name, side], rss)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    with open("/proc/loadavg") as load:
        print(f"rounds {rounds}, load average {' '.join(load.read().split()[:3])}")
    print(f"{'body':<12}" + "".join(f"{side + ' s':>13}" for side in order)
          + "".join(f"{side[0] + '/b':>7}" for side in order
                    if side != "busboy")
          + f"{'target':>8}   peak MiB " + "/".join(order))
    for name in names:
        median = {side: statistics.median(cpu[name, side]) for side in order}
        line = f"{name:<12}" + "".join(f"{median[side]:>13.3f}"
                                       for side in order)
        if "busboy" in median:
            line += "".join(f"{median['busboy'] / median[side]:>6.1f}x"
                            for side in order if side != "busboy")
        line += f"{TARGETS.get(name, 0):>7}x   " + "/".join(
            f"{peak[name, side] / MiB:.1f}" for side in order)
        print(line)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 5)
