#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Whois reply parsing, RDAP answer reading, e-mail extraction and gathering
# a reply at its bound.
set -euo pipefail
"$1/bench_whois" --benchmark_counters_tabular=true
