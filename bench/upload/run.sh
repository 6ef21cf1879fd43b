#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Cargane's upload throughput against busboy on the same three bodies.
# Usage: run.sh BIN_FOLDER
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

if [[ ! -d "$here/node_modules/busboy" ]]; then
  npm install --silent --no-audit --no-fund --no-save --prefix "$here" busboy
fi

bodies=/tmp/cargane-bench-bodies
if [[ ! -f "$bodies/small_files.body" ]]; then
  /usr/bin/python3 "$here/make_bodies.py" "$bodies"
fi
/usr/bin/python3 "$here/compare.py" "$bin" "$bodies"
