#!/usr/bin/env bash
# The Windows build under Wine beside the Linux build, same road, same run, alternating:
#   windows_road_100dev   100 devices through the whole road with an 8 MiB package
#   windows_download_64m  one device through the road with a 64 MiB package (blksize 1468):
#                         the download is nearly all of it
# Each row: the medians of RUNS runs (default 3) of the simulator's road time under Wine and
# on Linux, and their ratio. Wine adds its own cost: a floor for real Windows, not a verdict.
# Goal: the Windows build within 1.5x the Linux build's time on the same road.
# With ORVANE_BENCH_RESULTS set, appends one "NAME WINE_S LINUX_S RATIO" line per row.
# Usage (root, after scripts/build.sh and scripts/build-windows.sh):
#   bash bench/windows_bench.sh [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs=${1:-3}
road() {  # road BUILD DEVICES KIB: the road's time in seconds
    ORVANE_ROAD_BUILD=$1 bash "$root/scripts/test-windows-road.sh" "$2" 0 "$3" |
        sed -n 's/.* road_s=//p'
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

printf '%-22s %8s %8s %6s\n' row wine_s linux_s ratio
for bench_row in "windows_road_100dev 100 8192" "windows_download_64m 1 65536"; do
    read -r name devices kib <<< "$bench_row"
    wine=()
    linux=()
    for _ in $(seq "$runs"); do
        wine+=("$(road windows "$devices" "$kib")")
        linux+=("$(road linux "$devices" "$kib")")
    done
    w=$(printf '%s\n' "${wine[@]}" | median)
    l=$(printf '%s\n' "${linux[@]}" | median)
    ratio=$(awk -v w="$w" -v l="$l" 'BEGIN {printf "%.2f", w / l}')
    line=$(printf '%-22s %8.2f %8.2f %6s' "$name" "$w" "$l" "$ratio")
    echo "$line"
    if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then echo "$line" | tr -s ' ' >> "$ORVANE_BENCH_RESULTS"; fi
done
echo "(load average now: $(cut -d' ' -f1-3 /proc/loadavg))"
