#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Whois reply parsing, RDAP answer reading, e-mail extraction and gathering
# a reply at its bound; then RDAP reading against Python's json.loads.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$1/bench_whois" --benchmark_counters_tabular=true
/usr/bin/python3 "$here/compare.py" "$1"
