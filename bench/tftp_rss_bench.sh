#!/usr/bin/env bash
# Orvane's resident memory with a crowd of TFTP transfers under way at once, measured between
# two network namespaces that this script creates and removes: Orvane (--headless, the default
# limit of 1,000 transfers) in one, COUNT slow clients (bench/tftp_hold_clients.py, each from
# an address of its own, acknowledging each block 200 ms late) in the other.
# Row:
#   tftp_rss   transfers asked, transfers under way at the end, refused, unanswered; Orvane's
#              resident memory once ready and its peak (VmHWM) over the run, in KiB
# Goal: COUNT=1000 all under way, peak under 128 MiB (131072 KiB).
# With ORVANE_BENCH_RESULTS set, appends "tftp_rss COUNT ACTIVE IDLE_KIB PEAK_KIB" to that file.
# Usage (root): bash bench/tftp_rss_bench.sh [build/bin] [COUNT] [SECONDS]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/netns_pair.sh"

bindir="$(cd "${1:-$here/../build/bin}" && pwd)"
count="${2:-1000}"
seconds="${3:-20}"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }

srv="orvane-rss-srv-$$"
cli="orvane-rss-cli-$$"
work="$(mktemp -d /tmp/orvane-rss-bench-XXXXXX)"
cleanup() {
    stop_orvane
    netns_pair_delete "$srv" "$cli"
    rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$cli" "ors$$" "orc$$" 10.252.0.1/24 10.252.0.2/24
netns_device_addresses "$srv" "$cli" 10.252.0.2 10.78.0.0/16

cp "$bindir/orvane" "$bindir/orvane-program" "$work/"
mkdir -m 755 "$work/fw"
head -c $((8 << 20)) /dev/urandom > "$work/fw/M100.bin"
chmod 644 "$work/fw/M100.bin"

start_orvane_in "$srv" 10.252.0.1 "$work" --no-show-all
rss_idle=$(status_kib VmRSS)

# Orvane's thread count, sampled every 0.5 s while the clients run; the largest kept.
(most=0; while :; do
    n=$(status_kib Threads); [ "${n:-0}" -gt "$most" ] && most=$n && echo "$most" > "$work/threads"
    sleep 0.5
done) &
sampler=$!
out=$(ip netns exec "$cli" /usr/bin/python3 "$here/tftp_hold_clients.py" 10.252.0.1 M100.bin \
    "$count" 10.78.0.1 "$seconds")
kill "$sampler"; wait "$sampler" 2>/dev/null || true
threads=$(cat "$work/threads")
peak=$(status_kib VmHWM)
active=$(sed -n 's/.* active=\([0-9]*\).*/\1/p' <<< "$out")
printf '%-10s %s threads_peak=%s rss_idle_kib=%s rss_peak_kib=%s\n' tftp_rss "$out" \
    "$threads" "$rss_idle" "$peak"
if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then
    echo "tftp_rss $count $active $rss_idle $peak" >> "$ORVANE_BENCH_RESULTS"
fi
