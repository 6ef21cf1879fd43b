#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The console's requests per second and latency for the Whois page and for
# uploads, beside the same upload by `corvane upload` as a CGI program
# behind lighttpd, and the memory of large concurrent uploads; then a
# 4 GiB download whole, by ranges and resumed, with the console's memory
# sampled, beside nginx.
# Usage: run.sh BIN_FOLDER (SERVE_BENCH_PART=ab or =large: only those
# cases; SERVE_BENCH_PART=download: only the download)
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
part=${SERVE_BENCH_PART:-}
if [[ $part != download ]]; then
  CORVANE_BIN="$bin" /usr/bin/python3 "$here/serve_bench.py"
fi
if [[ -z $part || $part == download ]]; then
  CORVANE_BIN="$bin" /usr/bin/python3 "$here/download_bench.py"
fi
