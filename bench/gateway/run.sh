#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Wharfpost's throughput and peak memory as a CGI program, beside busboy and
# Cargane on the same bodies. Usage: run.sh BIN_FOLDER
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
upload=$(cd "$here/../upload" && pwd)

if [[ ! -d "$upload/node_modules/busboy" ]]; then
  npm install --silent --no-audit --no-fund --no-save --prefix "$upload" busboy
fi
export NODE_PATH="$upload/node_modules"

bodies=/tmp/wharfpost-bench-bodies
if [[ ! -f "$bodies/small_files.body" ]]; then
  /usr/bin/python3 "$here/make_bodies.py" "$bodies"
fi
/usr/bin/python3 "$here/compare.py" "$bin" "$bodies"
