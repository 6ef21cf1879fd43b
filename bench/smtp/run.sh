#!/usr/bin/env bash
# SendMail's messages per second to a local aiosmtpd server, beside Python's
# smtplib sending the same messages to the same server in the same run.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3

coproc SERVER { exec "$python" "$here/server.py"; }
read -r port <&"${SERVER[0]}"
server="127.0.0.1:$port"
trap 'exec {SERVER[1]}>&-; wait "$SERVER_PID" 2>/dev/null || true' EXIT

export CORVANE_LOG_DIR=$(mktemp -d)
json=$(mktemp)
SMTP_BENCH_SERVER=$server "$bin/smtp_bench" --benchmark_out="$json" \
  --benchmark_out_format=json
read -r ours ours_cpu < <("$python" -c 'import json,sys
b = json.load(open(sys.argv[1]))["benchmarks"][0]
print("%.1f %.1f" % (b["items_per_second"], b["cpu_time"]))' "$json")
read -r theirs theirs_cpu < <("$python" "$here/smtplib_rate.py" "$server" 3)
rm -rf "$json" "$CORVANE_LOG_DIR"
echo "SendMail: $ours messages/s ($ours_cpu us client CPU per message)"
echo "smtplib:  $theirs messages/s ($theirs_cpu us client CPU per message)"
"$python" -c 'import sys
ours, theirs = float(sys.argv[1]), float(sys.argv[2])
print("ratio SendMail/smtplib: %.2f (target: at least 2)" % (ours / theirs))' \
  "$ours" "$theirs"
