#!/usr/bin/env bash
# Fails when the tests outgrow a third of the code they test (plus a little room):
# non-blank lines of tests/ and fuzz/ against src/ and tools/, sources and scripts only.
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${ORVANE_TEST_RATIO_LIMIT:-35}
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "check-test-ratio: not a git checkout, ratio not checked"
    exit 0
fi
count() {
    git ls-files "$@" | grep -E '\.(c|cc|cpp|h|hpp|py|sh)$' | xargs -r cat | grep -cv '^\s*$' || true
}
tests=$(count tests fuzz)
code=$(count src tools)
if [ "$code" -eq 0 ]; then
    echo "check-test-ratio: no code found" >&2
    exit 1
fi
percent=$((tests * 1000 / code))
printf 'tests %d lines, code %d lines: %d.%d %% (limit %d %%)\n' \
    "$tests" "$code" $((percent / 10)) $((percent % 10)) "$limit"
if [ "$percent" -gt $((limit * 10)) ]; then
    echo "check-test-ratio: tests exceed $limit % of the code; fold or cut tests first" >&2
    exit 1
fi
