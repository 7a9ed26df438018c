#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for SECONDS (default 60)
# on a copy of its seed corpus. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVANE_BUILD_FUZZ=ON -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -- -j"$(nproc)"
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    mapfile -t targets < <(cd build-fuzz/bin && ls fuzz_* 2>/dev/null)
fi
for t in "${targets[@]}"; do
    seeds="fuzz/corpus/${t#fuzz_}"
    work=$(mktemp -d)
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
    echo "== $t for ${seconds}s"
    build-fuzz/bin/"$t" -max_total_time="$seconds" -max_len=65536 "$work" 2>&1 | tail -n 3
    rm -rf "$work"
done
