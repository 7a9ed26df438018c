#!/usr/bin/env bash
# Fails when a C++ file is not formatted by .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests tools bench fuzz -name '*.cpp' -o -name '*.h')
[ -z "$files" ] && exit 0
# shellcheck disable=SC2086
if ! clang-format --dry-run --Werror $files; then
    echo "check-format: run 'clang-format -i' on the files above" >&2
    exit 1
fi
