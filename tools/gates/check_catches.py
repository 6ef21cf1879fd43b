# SPDX-License-Identifier: Apache-2.0
"""The swallowed-failure gate: a `catch` block of the project's own code
(not its tests, benchmarks or fuzz targets) that does nothing says, in a
comment, why nothing is lost. Prints each empty block as FILE:LINE: and
exits 1 when there is one."""

import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
EMPTY_CATCH = re.compile(r"catch\s*\([^)]*\)\s*\{\s*\}")
SKIPPED = ("tests/", "bench/", "fuzz/", "examples/")


def tracked_sources():
    names = subprocess.run(
        ["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, check=True,
        capture_output=True, text=True).stdout.split()
    return [name for name in names
            if not any(part in name for part in SKIPPED)]


def main():
    found = 0
    for name in tracked_sources():
        text = (ROOT / name).read_text(errors="replace")
        for match in EMPTY_CATCH.finditer(text):
            line = text.count("\n", 0, match.start()) + 1
            print(f"{name}:{line}: an empty catch block: say in a comment "
                  "why nothing is lost")
            found += 1
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
