#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# A 256 MiB upload through a Flask view: Cargane through the Python module
# beside python-multipart (Debian's python3-multipart), CPU and memory.
# Usage: run.sh BIN_FOLDER (the module is in the build's python/ beside it)
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
module="$bin/../python"
if ! ls "$module"/corvane.*.so >/dev/null 2>&1; then
  echo "python: the Python module is not built (pybind11-dev); skipped"
  exit 0
fi
/usr/bin/python3 "$here/compare.py" "$module"
