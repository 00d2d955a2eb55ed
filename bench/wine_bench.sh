#!/usr/bin/env bash
# The Windows program under Wine against a raw WinINet reader (see bench/wine_bench.py).
#   bench/wine_bench.sh [work-dir]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target KestrelSync ks_rawreader
exec python3 bench/wine_bench.py "$repo" "${1:-/tmp/kestrelsync-wine-bench}"
