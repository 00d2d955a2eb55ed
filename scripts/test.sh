#!/usr/bin/env bash
# Configures, builds and runs both test suites: native (AddressSanitizer and
# UndefinedBehaviorSanitizer) and Windows (under Wine). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

summary=()
run_suite() {
    local preset=$1
    echo "=== $preset: configure and build ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    echo "=== $preset: test ==="
    local log="build/$preset/test-output.txt"
    if ! ctest --preset "$preset" 2>&1 | tee "$log"; then
        echo "FAILED: $preset" >&2
        exit 1
    fi
    local passed
    passed=$(grep -E '^[0-9]+: \[  PASSED  \] [0-9]+ tests?' "$log" | awk '{n += $5} END {print n + 0}')
    summary+=("$preset: ${passed:-0} tests passed")
}

suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(native-debug windows)
for suite in "${suites[@]}"; do
    run_suite "$suite"
done
printf '%s\n' "=== summary ===" "${summary[@]}"
