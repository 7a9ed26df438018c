#!/usr/bin/env bash
# The device road, measured between two network namespaces that this script creates and
# removes: Orvane (--headless, no presence test) in one, orvane-devsim in the other, joined
# by a veth pair (10.254.0.1 server, 10.254.0.2 devices).
#
# Rows:
#   reply_1dev       one device asking 1000 times in a row: reply latency median and p99
#   reply_100dev     100 devices asking at once, 10 times: latency median and p99 over all
#                    replies, and the time until the last of the 100 was answered
#   road_100dev      100 devices through the whole road with an 8 MiB package (download
#                    checked byte for byte, IPC stages reported), 3 times
#   plain_100dev     100 plain TFTP downloads of the same file from the same server with the
#                    same client, started together, 3 times; ratio = road / plain (medians)
#   curl_100dev      the same 100 downloads by curl (blksize 1468), for reference; curl
#                    cannot choose its address, so these come from one, 8 at a time
#   ratio            road / plain of each run, the median of the three
#   rss              Orvane's resident memory once ready (idle), and its peak after the first
#                    100-device road (the reply rows before it had 100 devices asking too)
# Goals: reply_1dev p99 < 1 ms; reply_100dev all answered within 50 ms; ratio <= 1.2.
# With ORVANE_BENCH_RESULTS set, appends one "NAME VALUES..." line per row to that file.
# Usage (root): bash bench/road_bench.sh [build/bin]
set -euo pipefail
source "$(dirname "$0")/netns_pair.sh"

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }

srv="orvane-bench-srv-$$"
dev="orvane-bench-dev-$$"
work="$(mktemp -d /tmp/orvane-road-bench-XXXXXX)"
cleanup() {
    stop_orvane
    netns_pair_delete "$srv" "$dev"
    rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$dev" "obs$$" "obd$$" 10.254.0.1/24 10.254.0.2/24
netns_device_addresses "$srv" "$dev" 10.254.0.2 10.78.0.0/16

# The program finds Config.ini beside itself: run a copy in the work folder. Without a
# Config.ini it logs failures only.
cp "$bindir/orvane" "$bindir/orvane-program" "$work/"
mkdir -m 755 "$work/fw"
"$bindir/orvane-mkfw" --version X_M100_V2.0.0.0 --image 8128K --pad-to 8M "$work/fw/M100.bin" >/dev/null
chmod 644 "$work/fw/M100.bin"

start_orvane_in "$srv" 10.254.0.1 "$work" --no-show-all
rss_idle=$(status_kib VmRSS)
result() {
    if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then echo "$*" >> "$ORVANE_BENCH_RESULTS"; fi
}

devsim() {
    ip netns exec "$dev" "$bindir/orvane-devsim" --server 10.254.0.1 --source-from 10.78.0.1 "$@"
}
# field NAME LINE: the value of NAME=... in a summary line
field() {
    tr ' ' '\n' <<< "$2" | sed -n "s/^$1=//p"
}
summary() {
    local out
    out=$(devsim "$@" 2> "$work/devsim.err") || { echo "devsim failed: $(head -5 "$work/devsim.err")" >&2; }
    head -1 <<< "$out"
}
median() {
    sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

echo "== reply latency (no presence test)"
s=$(summary --devices 1 --road request --rounds 1000 --request-interval 1000)
printf '%-14s median %.3f ms  p99 %.3f ms  max %.3f ms  (%s)\n' reply_1dev \
    "$(field reply-median-ms "$s")" "$(field reply-p99-ms "$s")" "$(field reply-max-ms "$s")" \
    "answered $(field answered "$s")/1 x1000"
result reply_1dev "$(field reply-median-ms "$s")" "$(field reply-p99-ms "$s")" \
    "$(field reply-max-ms "$s")" "$(field answered "$s")"

: > "$work/all100"
for i in $(seq 10); do
    s=$(summary --devices 100 --road request --mac "02:00:00:01:00:$(printf %02X "$i")")
    echo "$(field road-s "$s") $(field answered "$s") $(field reply-median-ms "$s") $(field reply-p99-ms "$s")" >> "$work/all100"
done
printf '%-14s all answered in: median %.1f ms  worst %.1f ms  (answered per run: %s)\n' reply_100dev \
    "$(awk '{print $1 * 1000}' "$work/all100" | median)" \
    "$(awk '{print $1 * 1000}' "$work/all100" | sort -g | tail -1)" \
    "$(awk '{print $2}' "$work/all100" | sort -u | tr '\n' ' ')"
printf '%-14s per run: median of medians %.3f ms, median p99 %.3f ms, worst p99 %.3f ms\n' "" \
    "$(awk '{print $3}' "$work/all100" | median)" "$(awk '{print $4}' "$work/all100" | median)" \
    "$(awk '{print $4}' "$work/all100" | sort -g | tail -1)"
result reply_100dev "$(awk '{print $3}' "$work/all100" | median)" \
    "$(awk '{print $4}' "$work/all100" | median)" "$(awk '{print $4}' "$work/all100" | sort -g | tail -1)" \
    "$(awk '{print $1 * 1000}' "$work/all100" | median)" \
    "$(awk '{print $1 * 1000}' "$work/all100" | sort -g | tail -1)" \
    "$(awk '{s += $2} END {print s}' "$work/all100")/$((100 * 10))"

echo "== 100 devices, 8 MiB package, blksize 1468"
: > "$work/road"; : > "$work/plain"; : > "$work/curl"
for i in 1 2 3; do
    s=$(summary --devices 100 --compare "$work/fw/M100.bin" --mac "02:00:00:02:0$i:00")
    echo "$(field road-s "$s") $(field downloaded "$s") $(field failures "$s")" >> "$work/road"
    if [ "$i" = 1 ]; then
        rss_peak=$(status_kib VmHWM)
    fi
    s=$(summary --devices 100 --fetch M100.bin --compare "$work/fw/M100.bin")
    echo "$(field road-s "$s") $(field downloaded "$s") $(field failures "$s")" >> "$work/plain"
    t0=$(date +%s.%N)
    ip netns exec "$dev" bash -c '
        for n in $(seq 100); do
            # All from one address, of which Orvane serves 8 at once: a refused one asks again.
            (for _ in $(seq 600); do
                curl -s --tftp-blksize 1468 -o "$1/c$n.bin" "tftp://10.254.0.1/M100.bin" && break
                sleep 0.1
            done) &
        done
        wait' _ "$work"
    t1=$(date +%s.%N)
    bad=0
    for n in $(seq 100); do cmp -s "$work/c$n.bin" "$work/fw/M100.bin" || bad=$((bad + 1)); done
    rm -f "$work"/c*.bin
    echo "$(echo "$t1 - $t0" | bc -l) $bad" >> "$work/curl"
done
road=$(awk '{print $1}' "$work/road" | median)
plain=$(awk '{print $1}' "$work/plain" | median)
printf '%-14s %s s  (runs: %s; downloaded/failures: %s)\n' road_100dev "$road" \
    "$(awk '{print $1}' "$work/road" | tr '\n' ' ')" "$(awk '{print $2 "/" $3}' "$work/road" | tr '\n' ' ')"
printf '%-14s %s s  (runs: %s; downloaded/failures: %s)\n' plain_100dev "$plain" \
    "$(awk '{print $1}' "$work/plain" | tr '\n' ' ')" "$(awk '{print $2 "/" $3}' "$work/plain" | tr '\n' ' ')"
printf '%-14s %.3f s  (runs: %s; corrupt: %s)\n' curl_100dev \
    "$(awk '{print $1}' "$work/curl" | median)" "$(awk '{printf "%.3f ", $1}' "$work/curl")" \
    "$(awk '{print $2}' "$work/curl" | tr '\n' ' ')"
ratio=$(paste -d ' ' "$work/road" "$work/plain" | awk '{print $1 / $4}' | median)
printf '%-14s %.2f  (road / plain of each run, median; goal <= 1.2)\n' ratio "$ratio"
printf '%-14s idle %d KiB, peak with 100 devices %d KiB\n' rss "$rss_idle" "$rss_peak"
result road_100dev "$road" "$plain" "$ratio" "$(awk '{print $1}' "$work/curl" | median)" \
    "$(awk '{s += $2} END {print s}' "$work/road")/300" "$(awk '{s += $3} END {print s}' "$work/road")"
result rss_kib "$rss_idle" "$rss_peak"
count() {
    { grep "^$1"$'\t' "$work/orvane.out" || echo "$1 0"; } | tail -1 | tr '\t' ' '
}
echo "(server counters at the end: $(count successes), $(count failures))"
