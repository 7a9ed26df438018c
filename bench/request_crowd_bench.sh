#!/usr/bin/env bash
# 1,000 devices powered on within one second ask for their address (the request road only),
# between two network namespaces this script creates and removes: Orvane headless (no presence
# test) in one, orvane-devsim in the other. Per run: the reply latency median, p99 and maximum
# (each reply timed from the request it answers), the requests asked again (nothing is lost on
# the veth pair: an ask again is a request Orvane dropped, 3 s lost for that device) and the
# drops Orvane logged. With a second build folder BEFORE, both builds run in turn, each run
# alternating, for a before/after comparison.
# Writes "request_crowd[_before] p50 p99 max asked_again dropped" (medians) to
# $ORVANE_BENCH_RESULTS when set.
# Usage (root): bash bench/request_crowd_bench.sh [build/bin] [RUNS] [DEVICES] [BEFORE_BIN]
set -euo pipefail
source "$(dirname "$0")/netns_pair.sh"

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
runs="${2:-5}"
devices="${3:-1000}"
before="${4:-}"
spread="${ORVANE_CROWD_SPREAD_MS:-1000}"  # the devices power on evenly over this many ms
srv="orvane-crowdreq-srv-$$"
dev="orvane-crowdreq-dev-$$"
work="$(mktemp -d /tmp/orvane-request-crowd-XXXXXX)"
cleanup() {
    stop_orvane
    netns_pair_delete "$srv" "$dev"
    rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$dev" "ocs$$" "ocd$$" 10.254.9.1/24 10.254.9.2/24
mkdir -m 755 "$work/fw"
"$bindir/orvane-mkfw" --version X_M100_V2.0.0.0 --image 60K --pad-to 64K "$work/fw/M100.bin" >/dev/null
chmod 644 "$work/fw/M100.bin"
field() {
    tr ' ' '\n' <<< "$2" | sed -n "s/^$1=//p"
}
median() {
    sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}
result() {
    echo "$*"
    if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then echo "$*" >> "$ORVANE_BENCH_RESULTS"; fi
}
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

builds="after"
[ -n "$before" ] && builds="before after"
declare -A rows=()
for run in $(seq "$runs"); do
    for b in $builds; do
        src="$bindir"
        [ "$b" = before ] && src="$(cd "$before" && pwd)"
        cp "$src/orvane" "$src/orvane-program" "$work/"
        rm -f "$work/Upgrade.log"
        start_orvane_in "$srv" 10.254.9.1 "$work" --no-show-all
        out=$(ip netns exec "$dev" "$bindir/orvane-devsim" --server 10.254.9.1 \
            --devices "$devices" --road request --start-spread-ms "$spread" \
            --mac "02:00:00:09:$(printf %02X "$run"):00" 2> "$work/devsim.err") || true
        stop_orvane
        s=$(head -1 <<< "$out")
        again=$(sed -n 's/.* requests=\([0-9]*\).*/\1/p' <<< "$out")
        # "... request dropped (N since the last such line)": N counts this one and those before
        dropped=$(sed -n 's/.*request dropped (\([0-9]*\) since.*/\1/p' "$work/Upgrade.log" 2>/dev/null |
            awk '{n += $1} END {print n + 0}')
        line="$(field reply-median-ms "$s") $(field reply-p99-ms "$s") $(field reply-max-ms "$s") ${again:-?} $dropped"
        printf '%-6s %-3s answered %s/%s  p50 p99 max ms, asked again, dropped: %s\n' "$b" "$run" \
            "$(field answered "$s")" "$devices" "$line"
        rows[$b]="${rows[$b]:-}$line"$'\n'
    done
done
for b in $builds; do
    name=request_crowd
    [ "$b" = before ] && name=request_crowd_before
    meds=""
    for col in 1 2 3 4 5; do
        meds="$meds $(awk -v c="$col" 'NF {print $c}' <<< "${rows[$b]}" | median)"
    done
    result "$name$meds"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg); $devices devices within 1 s, medians of $runs"
