#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for SECONDS (default 60)
# on a copy of its seed corpus. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# Fails (status 1, with the fuzzer's report) on the first target that crashes, leaks or takes
# more than 30 s on one input; the input is left as crash-*/leak-*/timeout-* in the current folder.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVANE_BUILD_FUZZ=ON -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF >/dev/null
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    mapfile -t targets < <(sed -n 's/^orvane_add_fuzzer(\(fuzz_[a-z_]*\) .*/\1/p' fuzz/CMakeLists.txt)
fi
if [ "${#targets[@]}" -eq 0 ]; then
    echo "fuzz.sh: no fuzz targets found in fuzz/CMakeLists.txt" >&2
    exit 1
fi
# Only the targets and the libraries they link: the program, its window and the tools are
# built and tested by the other builds.
cmake --build build-fuzz --target "${targets[@]}" -- -j"$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
    seeds="fuzz/corpus/${t#fuzz_}"
    rm -rf "$work/corpus" && mkdir "$work/corpus"
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work/corpus"/
    echo "== $t for ${seconds}s"
    if ! build-fuzz/bin/"$t" -max_total_time="$seconds" -timeout=30 -max_len=65536 \
        "$work/corpus" >"$work/log" 2>&1; then
        tail -n 80 "$work/log"
        echo "fuzz.sh: $t failed" >&2
        exit 1
    fi
    grep -E '^Done [0-9]+ runs' "$work/log" || tail -n 3 "$work/log"
done
