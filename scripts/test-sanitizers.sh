#!/usr/bin/env bash
# Builds and runs the tests under ASan+UBSan, then under TSan. Expects install-deps.sh done.
set -euo pipefail
cd "$(dirname "$0")/.."
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
for preset in asan tsan; do
    bash scripts/build.sh "$preset"
    ctest --preset "$preset" -j"$(nproc)" --timeout 600
done
