#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) in build-fuzz/ and runs one of them.
# Usage: scripts/fuzz.sh [TARGET] [SECONDS]   (default: fmw_package_fuzz for 60 s)
# Needs the packages clang and libclang-rt-14-dev (install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
target="${1:-fmw_package_fuzz}"
seconds="${2:-60}"
corpus_name="${target%_fuzz}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVANE_SANITIZE=address -DORVANE_BUILD_FUZZ=ON -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target "$target" -- -j2
# New inputs go to a scratch corpus; the committed seeds stay as they are.
work="build-fuzz/corpus-$corpus_name"
mkdir -p "$work"
exec "build-fuzz/bin/$target" -max_total_time="$seconds" -max_len=65536 "$work" \
    "fuzz/corpus/$corpus_name"
