# SPDX-License-Identifier: Apache-2.0
"""The include-direction gate: every `#include "folder/..."` of a tracked
C++ file is allowed by the layer table of docs/ARCHITECTURE.md, and only
platform/ includes the POSIX headers. Prints each offending line as
FILE:LINE: and exits 1 when there is one.

The table is the one under the line `<!-- layers -->`: each row names a
folder in backticks in its second column and, in its third, the folders
(`frame/`) or single headers (`whois/WhoisFields.h`) it may include, or
`*` for anything. A folder's tests/ may include what the folder may, the
folder itself and the tests/ of those folders."""

import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TABLE_MARK = "<!-- layers -->"
# The operating system's own headers, which only platform/ (and tests,
# benchmarks and fuzz targets, which set up real files and sockets) include.
POSIX = re.compile(r"#\s*include\s*<(unistd|fcntl|dlfcn|pthread|poll|dirent|"
                   r"netdb|spawn|termios|pwd|grp|sys/[a-z_]+|netinet/[a-z_]+|"
                   r"arpa/[a-z_]+)\.h>")
QUOTED = re.compile(r'#\s*include\s*"([^"]+)"')


def read_table():
    text = (ROOT / "docs" / "ARCHITECTURE.md").read_text()
    if TABLE_MARK not in text:
        sys.exit(f"docs/ARCHITECTURE.md: no line {TABLE_MARK} before the "
                 "layer table")
    rules = {}
    for line in text.split(TABLE_MARK, 1)[1].lstrip().splitlines():
        if not line.startswith("|"):
            break
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        if len(cells) < 3 or set(cells[0]) <= set("-: "):
            continue
        folders = re.findall(r"`([^`]+)/`", cells[1])
        allowed = re.findall(r"`([^`]+)`", cells[2])
        for folder in folders:
            rules[folder] = [name.rstrip("/") for name in allowed]
    if not rules:
        sys.exit("docs/ARCHITECTURE.md: the layer table is empty")
    return rules


def allows(rules, folder, in_tests, target):
    """Whether a file of `folder` (of its tests/ when in_tests) may include
    the project header `target`."""
    allowed = rules[folder]
    if "*" in allowed:
        return True
    top = target.split("/", 1)[0]
    if top == folder:
        return True
    for name in allowed:
        if target == name or top == name:
            return True
        if in_tests and (target.startswith(f"{name}/tests/") or
                         target.startswith(f"{folder}/tests/")):
            return True
    return in_tests and target.startswith(f"{folder}/tests/")


def main():
    rules = read_table()
    files = subprocess.run(
        ["git", "ls-files", "--", "*.cpp", "*.h", "*.c", "*.cpp.in"],
        cwd=ROOT, check=True, capture_output=True, text=True).stdout.split()
    folders = {path.name for path in ROOT.iterdir() if path.is_dir()}
    faults = []
    for name in files:
        parts = name.split("/")
        folder = parts[0]
        in_tests = "tests" in parts[1:-1]
        if folder not in rules:
            faults.append(f"{name}:1: folder {folder}/ is not in the layer "
                          "table of docs/ARCHITECTURE.md")
            continue
        lines = (ROOT / name).read_text(errors="replace").splitlines()
        for number, line in enumerate(lines, 1):
            quoted = QUOTED.match(line)
            if quoted:
                target = quoted.group(1)
                top = target.split("/", 1)[0]
                if ("/" in target and top in folders and
                        not allows(rules, folder, in_tests, target)):
                    faults.append(f"{name}:{number}: {folder}/ may not "
                                  f"include {target}")
            elif (POSIX.match(line) and folder != "platform" and
                  not in_tests and "*" not in rules[folder]):
                faults.append(f"{name}:{number}: only platform/ includes "
                              f"the system header in: {line.strip()}")
    for fault in faults:
        print(fault)
    print(f"layers: {len(files)} files, {len(faults)} includes against the "
          "layer table")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
