#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Tallowin against memcpy (every path, encoding and decoding), the command
# beside coreutils, OpenSSL and Node's Buffer, then the peak memory of a
# 64 MiB attachment, as GetMailBody builds it and as `corvane mail` sends it
# (beside coreutils' base64 of the same file).
set -euo pipefail
bin=$1
out=$(mktemp)
trap 'rm -f "$out"' EXIT
lscpu | grep "^Model name"
echo "Vector units: $(grep -o -w -E 'avx2|avx512vbmi' /proc/cpuinfo | sort -u | xargs)"
"$bin/base64_bench" --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true
/usr/bin/python3 - "$out" <<'PY'
import json, sys
runs = {b["run_name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
for size in ("1048576", "67108864"):
    copy = runs[f"BM_Memcpy/{size}"]["GB/s"]
    print(f"{int(size) >> 20} MiB, medians of 5 (memcpy {copy:.2f} GB/s):")
    for name, run in sorted(runs.items()):
        if name.endswith("/" + size) or f"/{size}/" in name:
            if not name.startswith("BM_Memcpy"):
                rate = run["GB/s"]
                print(f"  {name:44} {rate:6.2f} GB/s = {rate / copy:.2f}"
                      f" of memcpy {run.get('label', '')}")
PY
/usr/bin/python3 "$(dirname "$0")/compare.py" "$bin"
"$bin/mailbody_peak"
/usr/bin/python3 "$(dirname "$0")/mail_attachment.py" "$bin"
