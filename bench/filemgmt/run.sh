#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Vantry's listing, tree removal and copies against ls, Python, rm and cp on
# identical fresh trees. Usage: run.sh BIN_FOLDER
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
/usr/bin/python3 "$here/compare.py" "$bin"
