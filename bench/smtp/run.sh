#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# SendMail's messages per second and client CPU per message to local
# aiosmtpd servers, beside Python's smtplib sending the same messages to the
# same servers in the same run: in plain text, and over STARTTLS with AUTH;
# and 1,000 messages over one kept connection beside smtplib reusing its
# connection and nodemailer's pool (installed by npm from the committed
# lock file), with the system calls per message that strace counts.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
scratch=$(mktemp -d)
export CORVANE_LOG_DIR=$scratch
messages=1000
if command -v npm >/dev/null && [[ ! -d "$here/node_modules/nodemailer" ]]; then
  (cd "$here" && npm ci --silent --no-audit --no-fund)
fi

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -days 2 -subj /CN=localhost \
  -addext subjectAltName=DNS:localhost,IP:127.0.0.1 \
  -keyout "$scratch/server.key" -out "$scratch/server.pem" 2>/dev/null

coproc PLAIN { exec "$python" "$here/server.py"; }
read -r plain_port <&"${PLAIN[0]}"
coproc SECURE { exec "$python" "$here/server.py" "$scratch/server.pem" \
  "$scratch/server.key"; }
read -r secure_port <&"${SECURE[0]}"
coproc PIPE { exec "$python" "$here/server.py" pipelining; }
read -r pipe_port <&"${PIPE[0]}"
coproc SINK { exec "$bin/smtp_sink"; }
read -r sink_port <&"${SINK[0]}"
piped="127.0.0.1:$pipe_port"
sink="127.0.0.1:$sink_port"
plain="127.0.0.1:$plain_port"
secure="127.0.0.1:$secure_port"
trap 'exec {PLAIN[1]}>&- {SECURE[1]}>&- {PIPE[1]}>&- {SINK[1]}>&-; wait 2>/dev/null || true;
      rm -rf "$scratch"' EXIT

json=$scratch/result.json
SMTP_BENCH_SERVER=$plain SMTP_BENCH_TLS_SERVER=$secure \
  SMTP_BENCH_PIPELINING_SERVER=$piped \
  SMTP_BENCH_CA_FILE=$scratch/server.pem "$bin/smtp_bench" \
  --benchmark_out="$json" --benchmark_out_format=json
figures() {
  "$python" -c 'import json,sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b["name"] == sys.argv[2] or b["name"].startswith(sys.argv[2] + "/"):
        print("%.1f %.1f" % (b.get("items_per_second", 0), b["cpu_time"]))' \
    "$json" "$1"
}
read -r ours ours_cpu < <(figures SendMailOneKiB)
read -r ours_tls ours_tls_cpu < <(figures SendMailOneKiBStartTlsAuth)
read -r ours_kept ours_kept_cpu < <(figures SendMailOneKiBKeptPipelined)
read -r compose compose_cpu < <(figures ComposeOneMiB)
read -r signed signed_cpu < <(figures ComposeAndSignOneMiB)
read -r theirs theirs_cpu < <("$python" "$here/smtplib_rate.py" "$plain" 3)
read -r theirs_kept theirs_kept_cpu < <("$python" "$here/smtplib_rate.py" \
  "$piped" "$messages" reuse)
# The same over one kept connection to the fast sink, where the server's own
# work no longer sets the pace.
sink_json=$scratch/sink.json
SMTP_BENCH_PIPELINING_SERVER=$sink "$bin/smtp_bench" \
  --benchmark_filter=KeptPipelined --benchmark_out="$sink_json" \
  --benchmark_out_format=json >/dev/null
read -r ours_sink ours_sink_cpu < <(json=$sink_json figures SendMailOneKiBKeptPipelined)
read -r theirs_sink theirs_sink_cpu < <("$python" "$here/smtplib_rate.py" \
  "$sink" "$messages" reuse)
node_kept=
if command -v node >/dev/null && [[ -d "$here/node_modules/nodemailer" ]]; then
  read -r node_kept node_kept_cpu < <(node "$here/nodemailer_rate.js" \
    "$piped" "$messages")
fi
read -r theirs_tls theirs_tls_cpu < <("$python" "$here/smtplib_rate.py" \
  "$secure" 3 "$scratch/server.pem")
echo "plain text:"
echo "  SendMail: $ours messages/s ($ours_cpu us client CPU per message)"
echo "  smtplib:  $theirs messages/s ($theirs_cpu us client CPU per message)"
# System calls per message of each sender over the kept connection: the
# count for 1 + N messages less the count for 1 (start-up and connection),
# over N.
syscalls() {
  strace -f -c -o "$scratch/strace" "$@" >/dev/null 2>&1 || return 0
  awk '$NF == "total" { print $4 }' "$scratch/strace"
}
per_message() {
  local one many
  one=$("$@" 1) many=$("$@" $((messages + 1)))
  [[ -n "$one" && -n "$many" ]] || { echo "?"; return; }
  awk -v one="$one" -v many="$many" -v n="$messages" \
    'BEGIN { printf "%.1f\n", (many - one) / n }'
}
ours_calls() {
  SMTP_BENCH_MESSAGES=$1 SMTP_BENCH_PIPELINING_SERVER=$piped \
    syscalls "$bin/smtp_bench" --benchmark_filter=KeptPipelined
}
theirs_calls() { syscalls "$python" "$here/smtplib_rate.py" "$piped" "$1" reuse; }
node_calls() { syscalls node "$here/nodemailer_rate.js" "$piped" "$1"; }
calls="" theirs_calls_n="" node_calls_n=""
if command -v strace >/dev/null; then
  calls=$(per_message ours_calls)
  theirs_calls_n=$(per_message theirs_calls)
  [[ -z "$node_kept" ]] || node_calls_n=$(per_message node_calls)
fi
echo "one kept connection, $messages messages (pipelined for SendMail):"
echo "  SendMail: $ours_kept messages/s ($ours_kept_cpu us client CPU per message${calls:+, $calls system calls})"
echo "  smtplib:  $theirs_kept messages/s ($theirs_kept_cpu us client CPU per message${theirs_calls_n:+, $theirs_calls_n system calls})"
if [[ -n "$node_kept" ]]; then
  echo "  nodemailer pool: $node_kept messages/s ($node_kept_cpu us client CPU per message${node_calls_n:+, $node_calls_n system calls})"
fi
echo "one kept connection to the fast sink, $messages messages:"
echo "  SendMail: $ours_sink messages/s ($ours_sink_cpu us client CPU per message)"
echo "  smtplib:  $theirs_sink messages/s ($theirs_sink_cpu us client CPU per message)"
echo "DKIM (ed25519) of a 1 MiB message: compose $compose_cpu us, compose and sign $signed_cpu us"
echo "STARTTLS with AUTH:"
echo "  SendMail: $ours_tls messages/s ($ours_tls_cpu us client CPU per message)"
echo "  smtplib:  $theirs_tls messages/s ($theirs_tls_cpu us client CPU per message)"
"$python" -c 'import sys
plain, tls, theirs_tls = map(float, sys.argv[1:])
print("client CPU, plain: %.0f us (target: at most 100)" % plain)
print("client CPU over STARTTLS+AUTH, SendMail/smtplib: %.2f (target: at most 0.5)"
      % (tls / theirs_tls))' "$ours_cpu" "$ours_tls_cpu" "$theirs_tls_cpu"
"$python" -c 'import sys
kept_cpu, kept, theirs_kept, compose, signed = map(float, sys.argv[1:6])
print("kept connection: %.0f us client CPU per message (target: at most 60)"
      % kept_cpu)
print("kept connection, SendMail/smtplib messages per second: %.2f "
      "(target: at least 3)" % (kept / theirs_kept))
print("DKIM signing of 1 MiB / composing it: %.2f (target: at most 2)"
      % ((signed - compose) / compose))' "$ours_kept_cpu" "$ours_kept" "$theirs_kept" \
  "$compose_cpu" "$signed_cpu" "$ours_sink" "$theirs_sink"
if [[ -n "$node_kept" ]]; then
  "$python" -c 'import sys
kept, node = map(float, sys.argv[1:])
print("kept connection, SendMail/nodemailer pool messages per second: %.2f "
      "(target: at least 2)" % (kept / node))' "$ours_kept" "$node_kept"
fi
echo "CPU: $(lscpu | sed -n 's/^Model name: *//p') ($(nproc) CPUs), load $(cut -d' ' -f1-3 /proc/loadavg)"
