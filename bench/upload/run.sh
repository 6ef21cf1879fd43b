#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Cargane's upload throughput against busboy on the same three bodies.
# Usage: run.sh BIN_FOLDER           in-process throughput (upload_bench) and
#                                    the peak memory of `corvane upload`
#        run.sh BIN_FOLDER cpu [N]   CPU time (user + system) of whole CGI
#                                    processes, wharfpost and `corvane upload`
#                                    against busboy reading standard input,
#                                    median of N interleaved rounds (5), on
#                                    the gateway benchmark's bodies (one file
#                                    of 1 GiB); see cpu_compare.py for its
#                                    knobs
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

if [[ ! -d "$here/node_modules/busboy" ]]; then
  npm install --silent --no-audit --no-fund --no-save --prefix "$here" busboy
fi

if [[ "${2:-}" == cpu ]]; then
  bodies=/tmp/wharfpost-bench-bodies
  if [[ ! -f "$bodies/small_files.body" ]]; then
    /usr/bin/python3 "$here/../gateway/make_bodies.py" "$bodies"
  fi
  exec /usr/bin/python3 "$here/cpu_compare.py" "$bin" "$bodies" "${3:-5}"
fi

bodies=/tmp/cargane-bench-bodies
if [[ ! -f "$bodies/small_files.body" ]]; then
  /usr/bin/python3 "$here/make_bodies.py" "$bodies"
fi
/usr/bin/python3 "$here/compare.py" "$bin" "$bodies"
