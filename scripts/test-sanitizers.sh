#!/usr/bin/env bash
# Builds and runs the tests under ASan+UBSan, then under TSan. Expects install-deps.sh done.
set -euo pipefail
cd "$(dirname "$0")/.."
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
# The crowd road (300 slow devices) is left out: its threads and code
# paths are the ones the device road and the engine's own tests already run sanitized, and
# sanitized it costs minutes of the run for nothing they do not show.
for preset in asan tsan; do
    bash scripts/build.sh "$preset"
    ctest --preset "$preset" -j"$(nproc)" --timeout 600 -E 'RoadLoad'
done
