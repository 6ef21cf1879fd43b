#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Tallowin against memcpy, then the peak memory of a 64 MiB attachment.
set -euo pipefail
bin=$1
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$bin/base64_bench" --benchmark_out="$out" --benchmark_out_format=json
/usr/bin/python3 - "$out" <<'PY'
import json, sys
runs = {b["name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
for size in ("1048576", "67108864"):
    copy = runs[f"BM_Memcpy/{size}"]["GB/s"]
    for name in ("BM_Base64Encode", "BM_Base64EncodePortable"):
        rate = runs[f"{name}/{size}"]["GB/s"]
        print(f"{name}/{size}: {rate:.2f} GB/s = {rate / copy:.2f} of memcpy"
              f" ({copy:.2f} GB/s)")
PY
"$bin/mailbody_peak"
