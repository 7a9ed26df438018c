#!/usr/bin/env bash
# The web view under load, between two network namespaces this script creates and removes:
# Orvane (--headless --show-all) in one with the web view on 10.254.1.1:8069, the simulated
# devices and the web clients in the other, joined by a veth pair.
#
# Rows:
#   rss_base     Orvane without the web view, 1,000 rows in its table: resident memory
#   web_api      with the web view and 1,000 rows: /api/devices, 100 requests in a row
#                (a new connection each): median, p99, max ms
#   web_metrics  the same for /metrics
#   rss_web      resident memory of that Orvane after the requests and 20 s of 50 browsers,
#                and its difference to rss_base (the web view's own memory)
#   web_road     100 devices through the whole road (2 MiB package), 5 runs alone and 5 with
#                50 browsers polling /api/devices every second, alternating: medians and the
#                ratio with / without. The browsers run at nice 19: on a site they are other
#                machines, and on these 2 cores their Python would otherwise take the CPU the
#                road needs and be counted against the web view; the same runs with them at
#                Orvane's priority are printed after (web_road_shared), not a goal
#   web_api_busy /api/devices, 100 requests while 100 devices go through the road (rebuilt
#                for nearly every request)
# Goals: /api/devices and /metrics median < 50 ms; ratio < 1.05; the web view < 10 MiB.
# With ORVANE_BENCH_RESULTS set, appends one "NAME VALUES..." line per row to that file.
# Usage (root): bash bench/web_bench.sh [build/bin]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/netns_pair.sh"

bindir="$(cd "${1:-$here/../build/bin}" && pwd)"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }

srv="orvane-web-srv-$$"
dev="orvane-web-dev-$$"
work="$(mktemp -d /tmp/orvane-web-bench-XXXXXX)"
poller_pid=""
cleanup() {
    if [ -n "$poller_pid" ]; then kill "$poller_pid" 2>/dev/null || true; fi
    stop_orvane
    netns_pair_delete "$srv" "$dev"
    rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$dev" "ows$$" "owd$$" 10.254.1.1/24 10.254.1.2/24
netns_device_addresses "$srv" "$dev" 10.254.1.2 10.79.0.0/16
# Orvane serves from a running interface only: wait for the link to be marked so.
for _ in $(seq 50); do
    ip -n "$srv" link show dev "ows$$" | grep -q 'state UP' && break
    sleep 0.1
done
cp "$bindir/orvane" "$bindir/orvane-program" "$work/"
mkdir -m 755 "$work/fw"
"$bindir/orvane-mkfw" --version X_M100_V2.0.0.0 --image 2040K --pad-to 2M "$work/fw/M100.bin" >/dev/null
chmod 644 "$work/fw/M100.bin"

result() {
    if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then echo "$*" >> "$ORVANE_BENCH_RESULTS"; fi
}
median() {
    sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}
# start_orvane ARGS...: Orvane in the server namespace, waits for its ready line
start_orvane() {
    start_orvane_in "$srv" 10.254.1.1 "$work" --show-all "$@"
}
devsim() {
    ip netns exec "$dev" "$bindir/orvane-devsim" --server 10.254.1.1 --source-from 10.79.0.1 "$@"
}
# Orvane's CPU seconds so far (user + system)
orvane_cpu() {
    awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$orvane_pid/stat"
}
rows() {
    grep '^row' "$work/orvane.out" | cut -f2 | sort -u | wc -l
}
# thousand_rows: devices of a model without firmware, each shown as a row, until 1,000 rows
# (a device whose every request went unanswered under the burst leaves no row)
thousand_rows() {
    local batch
    for batch in 10 11 12 13 14; do
        devsim --devices $((1000 - $(rows))) --model N0FW --expect-no-firmware --road request \
            --concurrency 50 --mac "02:00:00:$batch:00:00" > /dev/null 2> "$work/devsim.err" || true
        [ "$(rows)" -ge 1000 ] && break
    done
    echo "rows shown: $(rows)"
}
load() {
    ip netns exec "$dev" /usr/bin/python3 -B "$here/web_load.py" "$@"
}
# start_poller: 50 browsers polling /api/devices in the background (ip netns exec becomes the
# poller, so its pid is the poller's); stop_poller ends it and waits for its summary
start_poller() {
    ip netns exec "$dev" nice -n "${1:-0}" /usr/bin/python3 -B "$here/web_load.py" poll \
        http://10.254.1.1:8069/api/devices 50 > "$work/poll.txt" &
    poller_pid=$!
}
stop_poller() {
    kill "$poller_pid"
    wait "$poller_pid" || true
    poller_pid=""
}
field() {
    tr ' ' '\n' <<< "$2" | sed -n "s/^$1=//p"
}

echo "== Orvane without the web view, 1,000 rows"
start_orvane
thousand_rows
rss_base=$(status_kib VmRSS)
echo "rss_base      $rss_base KiB"
result rss_base "$rss_base"
stop_orvane

echo "== Orvane with the web view, 1,000 rows"
start_orvane --http 10.254.1.1:8069
thousand_rows
api=$(load latency http://10.254.1.1:8069/api/devices 100)
metrics=$(load latency http://10.254.1.1:8069/metrics 100)
echo "web_api       $api ms"
echo "web_metrics   $metrics ms"
result web_api $(awk '{print $2, $4, $6}' <<< "$api")
result web_metrics $(awk '{print $2, $4, $6}' <<< "$metrics")
cpu0=$(orvane_cpu)
start_poller
sleep 20
stop_poller
cpu1=$(orvane_cpu)
echo "web_cpu       Orvane's CPU for 20 s of 50 browsers on 1,000 rows: $(echo "$cpu1 - $cpu0" | bc -l) s"
rss_web=$(status_kib VmRSS)
echo "rss_web       $rss_web KiB (web view $((rss_web - rss_base)) KiB); 50 browsers for 20 s: $(cat "$work/poll.txt")"
result rss_web "$rss_web" "$((rss_web - rss_base))"

# road_beside_browsers NAME NICE MAC_BYTE: 5 roads alone and 5 beside 50 browsers at NICE,
# alternating; prints NAME's medians and ratio
road_beside_browsers() {
    local name=$1 niceness=$2 mac=$3 i s c0 c1 alone polled ratio
    : > "$work/alone"; : > "$work/polled"
    for i in 1 2 3 4 5; do
        c0=$(orvane_cpu)
        s=$(devsim --devices 100 --mac "02:00:00:$mac:0$i:00" 2> /dev/null | head -1)
        c1=$(orvane_cpu)
        echo "$(field road-s "$s") $(field failures "$s") $(echo "$c1 - $c0" | bc -l)" >> "$work/alone"
        start_poller "$niceness"
        sleep 2
        c0=$(orvane_cpu)
        s=$(devsim --devices 100 --mac "02:00:00:$mac:1$i:00" 2> /dev/null | head -1)
        c1=$(orvane_cpu)
        echo "$(field road-s "$s") $(field failures "$s") $(echo "$c1 - $c0" | bc -l)" >> "$work/polled"
        stop_poller
        echo "run $i: alone $(tail -1 "$work/alone"), with 50 browsers $(tail -1 "$work/polled") ($(cat "$work/poll.txt")) (road s, failures, Orvane CPU s)"
    done
    alone=$(awk '{print $1}' "$work/alone" | median)
    polled=$(awk '{print $1}' "$work/polled" | median)
    ratio=$(paste -d ' ' "$work/polled" "$work/alone" | awk '{print $1 / $3}' | median)
    printf '%-13s alone %s s, with 50 browsers %s s, ratio %.3f\n' "$name" "$alone" "$polled" "$ratio"
    [ "$name" != web_road ] || result web_road "$alone" "$polled" "$ratio"
}
echo "== 100 devices through the road (2 MiB), alone and beside 50 browsers (nice 19; goal < 1.05)"
road_beside_browsers web_road 19 20
echo "== the same with the browsers at Orvane's priority, on the same 2 cores"
road_beside_browsers web_road_shared 0 21

echo "== /api/devices while 100 devices go through the road (the table changes under every request)"
devsim --devices 100 --mac 02:00:00:22:00:00 > /dev/null 2>&1 &
road_pid=$!
sleep 0.3
busy=$(load latency http://10.254.1.1:8069/api/devices 100)
wait "$road_pid" || true
echo "web_api_busy  $busy ms"
result web_api_busy $(awk '{print $2, $4, $6}' <<< "$busy")
