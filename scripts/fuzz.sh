#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (seconds, default
# 60). Needs clang and libclang-rt-14-dev. Each target starts from its seed corpus in
# tests/fuzz/corpus/<name>/ (read only); what it finds is kept in build/fuzz/corpus/<name>/.
# Crashes are written to build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/artifacts
for target in list_line_fuzz http_head_fuzz; do
    name=${target%_fuzz}
    seeds="tests/fuzz/corpus/$name"
    if [ -z "$(ls -A "$seeds" 2>/dev/null)" ]; then
        echo "fuzz.sh: no seed corpus in $seeds" >&2
        exit 1
    fi
    mkdir -p "build/fuzz/corpus/$name"
    "build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len=4096 \
        -artifact_prefix=build/fuzz/artifacts/ "build/fuzz/corpus/$name" "$seeds"
done
