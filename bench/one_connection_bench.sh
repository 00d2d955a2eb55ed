#!/usr/bin/env bash
# KestrelSync against a server that serves one connection at a time: CONNECTIONS=8 against
# CONNECTIONS=1. See bench/one_connection_bench.py for what is measured.
#   bench/one_connection_bench.sh [work-dir]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target KestrelSync
exec python3 bench/one_connection_bench.py "$repo" "${1:-/tmp/kestrelsync-one-connection-bench}"
