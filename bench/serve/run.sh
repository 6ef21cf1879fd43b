#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The console's requests per second and latency for the Whois page and for
# 64 KiB uploads, beside the same upload by `corvane upload` as a CGI
# program behind lighttpd, and the memory of large concurrent uploads.
# Usage: run.sh BIN_FOLDER
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
CORVANE_BIN="$bin" /usr/bin/python3 "$here/serve_bench.py"
