#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (seconds, default
# 60). Needs clang and libclang-rt-14-dev. Crashes are written to build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/artifacts build/fuzz/corpus/list_line
cp -n examples/*/_listfile*.txt build/fuzz/corpus/list_line/ 2>/dev/null || true
for target in list_line_fuzz; do
    name=${target%_fuzz}
    mkdir -p "build/fuzz/corpus/$name"
    "build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len=4096 \
        -artifact_prefix=build/fuzz/artifacts/ "build/fuzz/corpus/$name"
done
