#!/usr/bin/env bash
# Orvane under a hostile host, beside an older build in the same run, all on loopback in a
# network namespace this script creates (it re-runs itself under unshare --net).
#
# Rows (each: this build, then the older one):
#   abuse_web_poll   100 slow connections (a header byte every 3 s) and 4 streams of 8 KB
#                    header lines for 30 s: browser polls of /api/devices answered within 1 s,
#                    of those tried, and their median ms
#   abuse_web_rss    Orvane's resident memory before and at the end of that load (MiB), and
#                    the growth
#   abuse_tftp_log   2,000 bad datagrams a second for 8 s, each from a new port: lines added to
#                    Upgrade.log (LogSwitch=1)
# Goals: every poll answered within 1 s; growth under 16 MiB; a handful of lines a second.
# With ORVANE_BENCH_RESULTS set, appends one "NAME VALUES..." line per row to that file.
# Usage (root): bash bench/abuse_bench.sh [build/bin] [OLD_BIN_DIR]
#   OLD_BIN_DIR holds the older orvane and orvane-program; without it, main is built in a
#   temporary worktree (removed at the end).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bindir="$(cd "${1:-$here/../build/bin}" && pwd)"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }

if [ -z "${ORVANE_ABUSE_INSIDE:-}" ]; then
    old="${2:-}"
    tree=""
    if [ -z "$old" ]; then
        tree="$(mktemp -d /tmp/orvane-abuse-main-XXXXXX)"
        git -C "$here/.." worktree add -q --detach "$tree" main
        trap 'git -C "$here/.." worktree remove --force "$tree"' EXIT
        (cd "$tree" && cmake --preset default >/dev/null && cmake --build build --target orvane orvane-program >/dev/null)
        old="$tree/build/bin"
    fi
    old="$(cd "$old" && pwd)"
    ORVANE_ABUSE_INSIDE=1 unshare --net bash "$0" "$bindir" "$old"
    exit $?
fi

ip link set lo up
old="$2"
work="$(mktemp -d /tmp/orvane-abuse-XXXXXX)"
pid=""
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

result() {
    echo "$*"
    if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then echo "$*" >> "$ORVANE_BENCH_RESULTS"; fi
}
rss_mib() {
    awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"
}
# start BIN_DIR PORT: Orvane from a copy of its two programs in a fresh folder, logging progress
start() {
    rm -rf "$work/run" && mkdir -p "$work/run/fw"
    cp "$1/orvane" "$1/orvane-program" "$work/run/"
    printf '[CNFINFO]\nLogSwitch=1\n' > "$work/run/Config.ini"
    (cd "$work/run" && exec env XDG_RUNTIME_DIR="$work/run" ORVANE_UPDATE_HOST=127.0.0.1 \
        no_proxy='*' ./orvane --headless --ip 127.0.0.1 --folder "$work/run/fw" --no-ip-check \
        --http "127.0.0.1:$2" > "$work/run/out" 2> "$work/run/err") &
    pid=$!
    for _ in $(seq 100); do
        grep -q '^ready' "$work/run/out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q '^ready' "$work/run/out" || { echo "orvane did not start:" >&2; cat "$work/run/err" >&2; exit 1; }
    sleep 0.5
}
stop() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
}

declare -A poll rss tftp
for which in new old; do
    dir="$bindir" port=8069
    [ "$which" = old ] && dir="$old" port=8070  # the first one's port may still be closing
    start "$dir" "$port"
    before="$(rss_mib "$pid")"
    poll[$which]="$(python3 "$here/abuse_load.py" web "$port" 30 | awk '{print $2 "/" $3, $4}')"
    after="$(rss_mib "$pid")"
    rss[$which]="$before $after $(awk -v a="$after" -v b="$before" 'BEGIN {printf "%.1f", a - b}')"
    lines="$(wc -l < "$work/run/Upgrade.log")"
    python3 "$here/abuse_load.py" tftp 2000 8 >/dev/null
    sleep 1.5  # the counts written when the second is over
    tftp[$which]="$(( $(wc -l < "$work/run/Upgrade.log") - lines ))"
    stop
done
result abuse_web_poll "${poll[new]}" "${poll[old]}"
result abuse_web_rss "${rss[new]}" "${rss[old]}"
result abuse_tftp_log "${tftp[new]}" "${tftp[old]}"
